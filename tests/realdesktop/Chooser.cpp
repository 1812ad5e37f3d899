// Answers the GNOME portal's screen-cast chooser as a user would, through the accessibility bus
// (AT-SPI): "share" ticks "Remember this selection", selects every monitor row, waits until the
// Share button can be pressed and presses it; "cancel" presses Cancel; "wait" only waits for the
// dialog; "dump" prints what the
// accessibility bus shows. Waits up to the seconds given for the dialog. Exit status 0 when done, 1
// when no dialog came.
//
// Measured on Debian 12 (xdg-desktop-portal-gnome 43.1, GTK 4.8): the dialog is the frame
// "Screen Share" of the application "xdg-desktop-portal-gnome"; its buttons are named by mnemonic
// and label ("_Share Share"; run the portal with LANG=C for these); the monitors are the list
// items of a list ("GtkListBox") that offers the Selection interface; Share stays insensitive
// until a row is selected; "Remember this selection" is a check box.

#include <atspi/atspi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Owns one reference of a GObject from libatspi.
template <typename T>
struct Ref {
  T* p = nullptr;
  explicit Ref(T* object = nullptr) : p(object) {}
  Ref(Ref&& o) noexcept : p(o.p) { o.p = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    std::swap(p, o.p);
    return *this;
  }
  Ref(const Ref&) = delete;
  ~Ref() {
    if (p) g_object_unref(p);
  }
  explicit operator bool() const { return p != nullptr; }
};

std::string text(gchar* s) {
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

std::string nameOf(AtspiAccessible* a) {
  return text(atspi_accessible_get_name(a, nullptr));
}

std::string roleOf(AtspiAccessible* a) {
  return text(atspi_accessible_get_role_name(a, nullptr));
}

bool has(AtspiAccessible* a, AtspiStateType state) {
  Ref<AtspiStateSet> set(atspi_accessible_get_state_set(a));
  return set && atspi_state_set_contains(set.p, state);
}

void dump(AtspiAccessible* a, int depth) {
  std::string actions;
  if (Ref<AtspiAction> action(atspi_accessible_get_action_iface(a)); action)
    for (int i = 0; i < atspi_action_get_n_actions(action.p, nullptr); ++i)
      actions += " [" + text(atspi_action_get_action_name(action.p, i, nullptr)) + "]";
  if (Ref<AtspiSelection> s(atspi_accessible_get_selection_iface(a)); s) actions += " [selection]";
  std::printf("%*s%s \"%s\"%s%s%s%s\n", depth * 2, "", roleOf(a).c_str(), nameOf(a).c_str(),
              has(a, ATSPI_STATE_SENSITIVE) ? "" : " (insensitive)",
              has(a, ATSPI_STATE_CHECKED) ? " (checked)" : "",
              has(a, ATSPI_STATE_SELECTED) ? " (selected)" : "", actions.c_str());
  if (depth > 30) return;
  const int n = atspi_accessible_get_child_count(a, nullptr);
  for (int i = 0; i < n; ++i) {
    Ref<AtspiAccessible> c(atspi_accessible_get_child_at_index(a, i, nullptr));
    if (c) dump(c.p, depth + 1);
  }
}

// Every descendant of `a` for which `match` holds, depth first.
template <typename Match>
void collect(AtspiAccessible* a, const Match& match, std::vector<Ref<AtspiAccessible>>& out,
             int depth = 0) {
  if (depth > 30) return;
  const int n = atspi_accessible_get_child_count(a, nullptr);
  for (int i = 0; i < n; ++i) {
    Ref<AtspiAccessible> c(atspi_accessible_get_child_at_index(a, i, nullptr));
    if (!c) continue;
    collect(c.p, match, out, depth + 1);
    if (match(c.p)) out.push_back(std::move(c));
  }
}

// The applications on the accessibility bus (the GNOME portal backend's among them).
std::vector<Ref<AtspiAccessible>> applications() {
  std::vector<Ref<AtspiAccessible>> out;
  Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
  const int n = atspi_accessible_get_child_count(desktop.p, nullptr);
  for (int i = 0; i < n; ++i)
    if (Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.p, i, nullptr)); app)
      out.push_back(std::move(app));
  return out;
}

Ref<AtspiAccessible> button(AtspiAccessible* root, const char* label) {
  std::vector<Ref<AtspiAccessible>> found;
  collect(
      root,
      [label](AtspiAccessible* a) {
        if (atspi_accessible_get_role(a, nullptr) != ATSPI_ROLE_PUSH_BUTTON) return false;
        // GTK 4.8 names a button by its mnemonic and its label: "_Share Share".
        const std::string name = nameOf(a);
        const std::string tail = std::string(" ") + label;
        return name == label || (name.size() > tail.size() &&
                                 name.compare(name.size() - tail.size(), tail.size(), tail) == 0);
      },
      found);
  return found.empty() ? Ref<AtspiAccessible>() : std::move(found.front());
}

bool press(AtspiAccessible* a) {
  Ref<AtspiAction> action(atspi_accessible_get_action_iface(a));
  return action && atspi_action_do_action(action.p, 0, nullptr);
}

// Ticks "Remember this selection" where it is not ticked: the permission is then kept.
void remember(AtspiAccessible* root) {
  std::vector<Ref<AtspiAccessible>> boxes;
  collect(
      root,
      [](AtspiAccessible* a) {
        return atspi_accessible_get_role(a, nullptr) == ATSPI_ROLE_CHECK_BOX &&
               nameOf(a).find("Remember") != std::string::npos;
      },
      boxes);
  for (const auto& box : boxes)
    if (!has(box.p, ATSPI_STATE_CHECKED)) press(box.p);
}

// Selects every row of every list in the dialog that lets rows be selected.
int selectAll(AtspiAccessible* root) {
  std::vector<Ref<AtspiAccessible>> lists;
  collect(
      root,
      [](AtspiAccessible* a) {
        Ref<AtspiSelection> s(atspi_accessible_get_selection_iface(a));
        return static_cast<bool>(s);
      },
      lists);
  int selected = 0;
  for (const auto& list : lists) {
    Ref<AtspiSelection> s(atspi_accessible_get_selection_iface(list.p));
    const int n = atspi_accessible_get_child_count(list.p, nullptr);
    for (int i = 0; i < n; ++i) selected += atspi_selection_select_child(s.p, i, nullptr) ? 1 : 0;
  }
  return selected;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "dump";
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
  if (atspi_init() < 0) {
    std::fprintf(stderr, "chooser: no accessibility bus\n");
    return 2;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); };

  if (mode == "dump") {
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    dump(desktop.p, 0);
    return 0;
  }
  const char* label = mode == "cancel" ? "Cancel" : "Share";
  for (; std::chrono::steady_clock::now() < deadline; pause()) {
    for (const auto& app : applications()) {
      Ref<AtspiAccessible> target = button(app.p, label);
      if (!target) continue;
      if (mode == "wait") return 0;
      if (mode == "share" && !has(target.p, ATSPI_STATE_SENSITIVE)) {
        remember(app.p);
        selectAll(app.p);
        continue;  // the button wakes up once the selection has come through
      }
      if (press(target.p)) {
        std::printf("pressed %s\n", label);
        return 0;
      }
    }
  }
  std::fprintf(stderr, "chooser: no dialog with \"%s\" within %d s\n", label, seconds);
  Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
  dump(desktop.p, 0);
  return 1;
}
