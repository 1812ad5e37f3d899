#include <atspi/atspi.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "app/Follow.h"
#include "app/Magnify.h"
#include "tests/E2E.h"

// What a screen reader sees of the magnifier, through the accessibility bus and the registry
// of at-spi2-core, as Orca would ask for it.

namespace {

struct Unref {
  void operator()(void* object) const { g_object_unref(object); }
};
using Node = std::unique_ptr<AtspiAccessible, Unref>;

QString takeText(gchar* text) {
  const QString s = QString::fromUtf8(text ? text : "");
  g_free(text);
  return s;
}

QString nameOf(AtspiAccessible* a) {
  return takeText(atspi_accessible_get_name(a, nullptr));
}

QString roleOf(AtspiAccessible* a) {
  return takeText(atspi_accessible_get_role_name(a, nullptr));
}

QStringList actionsOf(AtspiAccessible* a) {
  QStringList names;
  AtspiAction* action = atspi_accessible_get_action_iface(a);
  if (!action) return names;
  const gint n = atspi_action_get_n_actions(action, nullptr);
  for (gint i = 0; i < n; ++i) names << takeText(atspi_action_get_action_name(action, i, nullptr));
  g_object_unref(action);
  return names;
}

// Walks the tree below `a` in order, depth first, until `visit` says it is done.
bool walk(AtspiAccessible* a, int depth, const std::function<bool(AtspiAccessible*, int)>& visit) {
  if (visit(a, depth)) return true;
  const gint n = atspi_accessible_get_child_count(a, nullptr);
  for (gint i = 0; i < n; ++i) {
    Node child(atspi_accessible_get_child_at_index(a, i, nullptr));
    if (child && walk(child.get(), depth + 1, visit)) return true;
  }
  return false;
}

// The tree as a screen reader lists it: role, name, actions, one line per object.
QString treeOf(AtspiAccessible* app) {
  QString out;
  walk(app, 0, [&](AtspiAccessible* a, int depth) {
    out += QString(depth * 2, u' ') + roleOf(a) + QStringLiteral(" \"") + nameOf(a) + u'"';
    const QStringList actions = actionsOf(a);
    if (!actions.isEmpty()) out += QStringLiteral(" [") + actions.join(u',') + u']';
    out += u'\n';
    return false;
  });
  return out;
}

class AccessibleMagnifier : public Magnifier {
 protected:
  void SetUp() override {
    startServer({});
    ASSERT_NO_FATAL_FAILURE(startAccessibilityBus());
    ASSERT_EQ(atspi_init(), 0);
    environment << QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    program = launch();
    ASSERT_TRUE(waitForMagnifier());
  }

  // A program's (by default the magnifier's) application on the bus, once it has a window there;
  // when not `alwaysAsk`, kept up to date by its events (a property asked while one comes in
  // would leave libatspi waiting for itself).
  Node application(int pid = 0, bool alwaysAsk = true) {
    Node found;
    waitUntil([&] {
      Node desktop(atspi_get_desktop(0));
      const gint n = atspi_accessible_get_child_count(desktop.get(), nullptr);
      for (gint i = 0; i < n; ++i) {
        Node app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
        if (app &&
            static_cast<int>(atspi_accessible_get_process_id(app.get(), nullptr)) ==
                (pid ? pid : program->pid()) &&
            atspi_accessible_get_child_count(app.get(), nullptr) > 0) {
          if (alwaysAsk) atspi_accessible_set_cache_mask(app.get(), ATSPI_CACHE_NONE);
          found = std::move(app);
          return true;
        }
      }
      return false;
    });
    return found;
  }

  Node find(AtspiAccessible* app, const QString& role, const QString& name) {
    AtspiAccessible* found = nullptr;
    walk(app, 0, [&](AtspiAccessible* a, int) {
      if (roleOf(a) != role || nameOf(a) != name) return false;
      found = static_cast<AtspiAccessible*>(g_object_ref(a));
      return true;
    });
    return Node(found);
  }

  QString caption() {
    for (const WindowInfo& w : x->topLevels())
      if (w.id == window.id) return w.title;
    return {};
  }

  ::testing::AssertionResult captionBecomes(const QString& want) {
    if (waitUntil([&] { return caption() == want; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the caption stayed '" << caption().toStdString()
                                         << "', not '" << want.toStdString() << "'";
  }

  static void press(AtspiAccessible* button) {
    AtspiAction* action = atspi_accessible_get_action_iface(button);
    ASSERT_NE(action, nullptr);
    ASSERT_EQ(takeText(atspi_action_get_action_name(action, 0, nullptr)), QStringLiteral("Press"));
    GError* error = nullptr;
    EXPECT_TRUE(atspi_action_do_action(action, 0, &error));
    if (error) ADD_FAILURE() << error->message;
    g_clear_error(&error);
    g_object_unref(action);
  }
};

// Events from the bus, as they come to a screen reader listening for name changes.
class NameChanges {
 public:
  NameChanges() {
    listener_ = atspi_event_listener_new(&NameChanges::heard, this, nullptr);
    atspi_event_listener_register(listener_, "object:property-change:accessible-name", nullptr);
  }
  ~NameChanges() {
    atspi_event_listener_deregister(listener_, "object:property-change:accessible-name", nullptr);
    g_object_unref(listener_);
  }
  bool heard(const QString& name) {
    return waitUntil([&] {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      return names_.contains(name);
    });
  }

 private:
  static void heard(AtspiEvent* event, void* self) {
    // Named by the object itself: what the event carries varies with the toolkit.
    if (event->source) static_cast<NameChanges*>(self)->names_ << nameOf(event->source);
    g_boxed_free(ATSPI_TYPE_EVENT, event);  // handed over with the call
  }
  AtspiEventListener* listener_;
  QStringList names_;
};

TEST_F(AccessibleMagnifier, ButtonsAndSliderZoomThroughTheBus) {
  Node app = application();
  ASSERT_TRUE(app) << "the magnifier never showed up on the accessibility bus";
  const QString tree = treeOf(app.get());
  std::printf("%s", tree.toUtf8().constData());  // the tree as a screen reader lists it

  Node plus = find(app.get(), QStringLiteral("push button"), QStringLiteral("Увеличить масштаб"));
  Node minus = find(app.get(), QStringLiteral("push button"), QStringLiteral("Уменьшить масштаб"));
  Node slider = find(app.get(), QStringLiteral("slider"), QStringLiteral("Масштаб"));
  Node view = find(app.get(), QStringLiteral("image"), QStringLiteral("Увеличенное изображение"));
  ASSERT_TRUE(plus && minus && slider && view) << tree.toStdString();
  EXPECT_EQ(takeText(atspi_accessible_get_description(view.get(), nullptr)),
            QStringLiteral("Режим \"Скольжение\""));

  NameChanges changes;
  ASSERT_TRUE(captionBecomes(QStringLiteral("Вендрел (x3)")));
  ASSERT_NO_FATAL_FAILURE(press(plus.get()));
  EXPECT_TRUE(captionBecomes(QStringLiteral("Вендрел (x4)")));
  EXPECT_TRUE(changes.heard(QStringLiteral("Вендрел (x4)"))) << "no name change on the bus";
  for (int i = 0; i < 8; ++i) ASSERT_NO_FATAL_FAILURE(press(plus.get()));
  EXPECT_TRUE(captionBecomes(QStringLiteral("Вендрел (x10)"))) << "stops at 10";
  for (int i = 0; i < 11; ++i) ASSERT_NO_FATAL_FAILURE(press(minus.get()));
  EXPECT_TRUE(captionBecomes(QStringLiteral("Вендрел (x1)"))) << "stops at 1";

  // The pointer still, the view at rest: only the zoom set through the bus changes it.
  x->movePointer(300, 300);
  const QRect v = viewOnScreen();
  ASSERT_TRUE(viewShows(sourceRect({300, 300}, v.width(), v.height(), 1, {0, 0, 1024, 768})));

  AtspiValue* value = atspi_accessible_get_value_iface(slider.get());
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(atspi_value_get_current_value(value, nullptr), 1.0);
  EXPECT_EQ(atspi_value_get_maximum_value(value, nullptr), 10.0);
  EXPECT_TRUE(atspi_value_set_current_value(value, 7.0, nullptr));
  EXPECT_TRUE(captionBecomes(QStringLiteral("Вендрел (x7)")));
  g_object_unref(value);

  EXPECT_TRUE(viewShows(sourceRect({300, 300}, v.width(), v.height(), 7, {0, 0, 1024, 768})));

  // Frozen, the view says so.
  x->pressKeys({keysym::Control_L, keysym::Insert});
  waitUntil([&] {
    return takeText(atspi_accessible_get_description(view.get(), nullptr)) ==
           QStringLiteral("Режим \"Заморозка\"");
  });
  EXPECT_EQ(takeText(atspi_accessible_get_description(view.get(), nullptr)),
            QStringLiteral("Режим \"Заморозка\""));
}

// The view following another program's keyboard: a GTK 3 window at the top-left corner with
// two text fields far apart, the magnifier below right of it with a view of 270 x 186 (whole
// multiples of zoom 3: exact), and the pointer on the desktop's picture below the fields.
class FollowingMagnifier : public AccessibleMagnifier {
 protected:
  void SetUp() override {}  // each test begins as it needs
  static constexpr QPoint Pointer{300, 600};

  void begin(const QByteArray& tracking, const QStringList& other = {QStringLiteral("fields")}) {
    startServer({});
    ASSERT_NO_FATAL_FAILURE(startAccessibilityBus());
    ASSERT_EQ(atspi_init(), 0);
    placeProgram();
    QFile ini(programFolder() + QStringLiteral("/Vendrel/Vendrel.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[MainForm]\r\nLeft=700\r\nTop=450\r\nWidth=272\r\nHeight=271\r\n" + tracking);
    ini.close();
    x->movePointer(Pointer.x(), Pointer.y());
    program = launch();
    ASSERT_TRUE(waitForMagnifier());
    ASSERT_TRUE(viewShows(around(Pointer)));
    // Started after the magnifier, it takes the keyboard from it.
    other_ = std::make_unique<ChildProcess>(
        QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral(VENDREL_SOURCE_DIR "/tests/FollowPrograms.py")} + other,
        QStringList{QStringLiteral("DISPLAY=") + screen->display()} + environment);
    ASSERT_TRUE(other.front() != QLatin1String("fields") ||
                waitUntil([&] { return fields().size() == 2; }));
  }

  static Rect around(QPoint p) { return sourceRect(p, 270, 186, 3, {0, 0, 1024, 768}); }
  static Rect around(const Sighting& s) { return around(sightingPoint(s, {45, 31})); }

  // The text fields, as the bus tells them, in order.
  std::vector<Node> fields() {
    std::vector<Node> found;
    Node app = application(other_->pid(), false);
    if (app)
      walk(app.get(), 0, [&](AtspiAccessible* a, int) {
        if (roleOf(a) == QLatin1String("text"))
          found.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(a)));
        return false;
      });
    return found;
  }

  // A field's box, or that of the character at its text cursor (and the cursor's offset).
  static Sighting sighted(AtspiAccessible* field, Sighting::Kind kind, int* offset = nullptr) {
    AtspiText* t = atspi_accessible_get_text_iface(field);
    AtspiComponent* c = atspi_accessible_get_component_iface(field);
    const gint at = atspi_text_get_caret_offset(t, nullptr);
    AtspiRect* r = kind == Sighting::Caret
                       ? atspi_text_get_character_extents(t, at, ATSPI_COORD_TYPE_SCREEN, nullptr)
                       : atspi_component_get_extents(c, ATSPI_COORD_TYPE_SCREEN, nullptr);
    const Sighting s{kind, {r->x, r->y, r->x + r->width, r->y + r->height}, false};
    if (offset) *offset = at;
    g_free(r);
    g_object_unref(c);
    g_object_unref(t);
    return s;
  }

  // Waits until the view shows the screen's `source` enlarged, whatever is drawn there.
  bool viewShowsScreen(const std::function<Rect()>& source) {
    const QRect view = viewOnScreen();
    return waitUntil([&] {
      const Rect s = source();
      if (s.isEmpty()) return false;
      const QImage part = x->grab(QRect(s.left, s.top, s.width(), s.height()));
      return x->grab(view) == part.scaled(view.size());
    });
  }

  std::unique_ptr<ChildProcess> other_;
};

TEST_F(FollowingMagnifier, TabAndTypingLeadTheViewAndThePointerTakesItBack) {
  ASSERT_NO_FATAL_FAILURE(begin("[Tracking]\r\nFocus=1\r\nCaret=1\r\n"));
  std::vector<Node> two = fields();
  ASSERT_EQ(two.size(), 2u);
  EXPECT_TRUE(viewShowsScreen([&] { return around(sighted(two[0].get(), Sighting::Focus)); }))
      << "the first field, focused as its window came up";
  const Sighting second = sighted(two[1].get(), Sighting::Focus);
  x->pressKeys({keysym::Tab});
  EXPECT_TRUE(viewShowsScreen([&] { return around(second); })) << "the second field";

  for (int typed = 1; typed <= 3; ++typed) {
    QElapsedTimer clock;
    clock.start();
    x->pressKeys({keysym::w});
    int offset = 0;
    EXPECT_TRUE(viewShowsScreen([&] {
      const Sighting caret = sighted(two[1].get(), Sighting::Caret, &offset);
      return offset == typed ? around(caret) : Rect{};
    })) << "the text cursor after letter "
        << typed;
    std::printf("a letter typed to the view showing its text cursor: %lld ms\n",
                static_cast<long long>(clock.elapsed()));
  }

  x->movePointer(Pointer.x() + 20, Pointer.y() + 40);
  EXPECT_TRUE(viewShows(around(Pointer + QPoint(20, 40)))) << "the pointer leads again";
}

TEST_F(FollowingMagnifier, WithBothChoicesOffNothingFollows) {
  ASSERT_NO_FATAL_FAILURE(begin(""));
  std::vector<Node> two = fields();
  ASSERT_EQ(two.size(), 2u);
  x->pressKeys({keysym::Tab});
  x->pressKeys({keysym::w});
  int offset = 0;
  ASSERT_TRUE(waitUntil([&] {
    sighted(two[1].get(), Sighting::Caret, &offset);
    return offset == 1;
  }));
  ASSERT_TRUE(waitForTick(Pointer + QPoint(-30, 20)));
  EXPECT_TRUE(viewShows(around(Pointer)));
}

TEST_F(FollowingMagnifier, AProgramThatNeverAnswersHoldsNothingUp) {
  const QString telling = programFolder() + QStringLiteral("/telling");
  ASSERT_NO_FATAL_FAILURE(
      begin("[Tracking]\r\nFocus=1\r\nCaret=1\r\n", {QStringLiteral("mute"), telling}));
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(telling); }));
  for (const QPoint p : {QPoint(150, 150), QPoint(600, 300), QPoint(200, 650)}) {
    x->movePointer(p.x(), p.y());
    EXPECT_TRUE(viewShows(around(p), Patience / 3)) << "the view follows the pointer";
  }
}

}  // namespace
