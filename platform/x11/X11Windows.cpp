#include "platform/x11/X11Windows.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/x11/X11Internal.h"

using x11::Reply;

namespace {

constexpr std::uint32_t CommandForeground = 0;
constexpr std::uint32_t CommandShow = 1;

// Holds the server for as long as it lives: other clients wait, however the walk ends.
class ServerGrab {
 public:
  explicit ServerGrab(xcb_connection_t* c) : c_(c) { xcb_grab_server(c_); }
  ~ServerGrab() { release(); }
  ServerGrab(const ServerGrab&) = delete;
  ServerGrab& operator=(const ServerGrab&) = delete;

  // The server answers requests in order: those sent before the release are still answered
  // while it is held, and their replies can be read after it is let go.
  void release() {
    if (!c_) return;
    xcb_ungrab_server(c_);
    xcb_flush(c_);
    c_ = nullptr;
  }

 private:
  xcb_connection_t* c_;
};

// A window the guard has gone away, or never was: the expected answer, not a fault.
bool gone(const xcb_generic_error_t* e) {
  return e && (e->error_code == XCB_WINDOW || e->error_code == XCB_DRAWABLE);
}

}  // namespace

struct X11Windows::Impl {
  x11::Connection connection;
  xcb_connection_t* c = nullptr;
  xcb_screen_t* screen = nullptr;
  xcb_window_t own = 0;
  bool announced = false;
  xcb_atom_t wmState = 0, netWmName = 0, utf8 = 0, command = 0, netWmPid = 0;
  std::function<void()> bringForward;
  std::unique_ptr<QSocketNotifier> notifier;

  xcb_atom_t atom(const char* name) {
    Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
  }

  void setProperty(xcb_window_t w, xcb_atom_t name, xcb_atom_t type, int format, const void* data,
                   std::uint32_t units) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, name, type, static_cast<std::uint8_t>(format),
                        units, data);
  }

  // What the guard asks of one window, fetched for all windows at once while the server is
  // held, and read from here by the visitor.
  struct Known {
    bool answers = false;  // whether the window still exists
    std::optional<QByteArray> wmClass, netWmName, wmName;
  };
  const std::unordered_map<xcb_window_t, Known>* walk = nullptr;

  // Windows that are gone answer with an error, which is no fault: it sets `vanished`.
  template <class T>
  Reply<T> reply(T* r, xcb_generic_error_t** error, const char* what, bool* vanished = nullptr) {
    if (*error && gone(*error)) {
      std::free(std::exchange(*error, nullptr));
      if (vanished) *vanished = true;
      return Reply<T>(r);
    }
    return x11::checked(r, error, what);
  }

  xcb_get_property_cookie_t askText(xcb_window_t w, xcb_atom_t name, xcb_atom_t type) {
    return xcb_get_property(c, 0, w, name, type, 0, 1024);
  }
  // A text property, or nothing when the window has none (or is gone).
  std::optional<QByteArray> text(xcb_get_property_cookie_t asked, bool* vanished = nullptr) {
    xcb_generic_error_t* e = nullptr;
    auto r = reply(xcb_get_property_reply(c, asked, &e), &e, "reading a window's name", vanished);
    if (!r || r->type == XCB_ATOM_NONE || r->format != 8) return std::nullopt;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                      xcb_get_property_value_length(r.get()));
  }
  std::optional<QByteArray> text(xcb_window_t w, xcb_atom_t name, xcb_atom_t type) {
    return text(askText(w, name, type));
  }

  bool answers(xcb_get_window_attributes_cookie_t asked) {
    xcb_generic_error_t* e = nullptr;
    return reply(xcb_get_window_attributes_reply(c, asked, &e), &e, "asking for a window") !=
           nullptr;
  }

  // Every request for all the windows goes out before the first reply is read: one wait for
  // the server, not one per window.
  std::vector<bool> haveWmState(const std::vector<xcb_window_t>& windows) {
    std::vector<xcb_get_property_cookie_t> asked;
    asked.reserve(windows.size());
    for (xcb_window_t w : windows)
      asked.push_back(xcb_get_property(c, 0, w, wmState, XCB_ATOM_ANY, 0, 0));
    std::vector<bool> have;
    have.reserve(windows.size());
    for (auto cookie : asked) {
      xcb_generic_error_t* e = nullptr;
      auto r = reply(xcb_get_property_reply(c, cookie, &e), &e, "reading WM_STATE");
      have.push_back(r && r->type != XCB_ATOM_NONE);
    }
    return have;
  }

  std::vector<std::vector<xcb_window_t>> children(const std::vector<xcb_window_t>& windows) {
    std::vector<xcb_query_tree_cookie_t> asked;
    asked.reserve(windows.size());
    for (xcb_window_t w : windows) asked.push_back(xcb_query_tree(c, w));
    std::vector<std::vector<xcb_window_t>> kids;
    kids.reserve(windows.size());
    for (auto cookie : asked) {
      xcb_generic_error_t* e = nullptr;
      auto r = reply(xcb_query_tree_reply(c, cookie, &e), &e, "listing a window's children");
      const xcb_window_t* k = r ? xcb_query_tree_children(r.get()) : nullptr;
      kids.emplace_back(k, k ? k + xcb_query_tree_children_length(r.get()) : k);
    }
    return kids;
  }

  // Under a window manager the program's window sits inside a frame: it is the descendant that
  // carries WM_STATE, the first met going down level by level. Without one, the child of the
  // root is the window itself. All the tops go down together, a level at a time.
  std::vector<xcb_window_t> clientsOf(const std::vector<xcb_window_t>& tops) {
    std::vector<xcb_window_t> clients = tops;
    const std::vector<bool> have = haveWmState(tops);
    std::vector<std::size_t> open;  // tops whose client is not found yet
    std::vector<std::vector<xcb_window_t>> level(tops.size());
    for (std::size_t i = 0; i < tops.size(); ++i)
      if (!have[i]) {
        open.push_back(i);
        level[i] = {tops[i]};
      }
    for (int depth = 0; depth < 3 && !open.empty(); ++depth) {
      std::vector<xcb_window_t> parents;
      for (std::size_t i : open) parents.insert(parents.end(), level[i].begin(), level[i].end());
      const auto kids = children(parents);
      std::vector<xcb_window_t> all;
      for (const auto& k : kids) all.insert(all.end(), k.begin(), k.end());
      const std::vector<bool> kidHas = haveWmState(all);
      std::size_t parent = 0, kid = 0;
      std::vector<std::size_t> still;
      for (std::size_t i : open) {
        std::vector<xcb_window_t> next;
        bool found = false;
        for (std::size_t n = 0; n < level[i].size(); ++n, ++parent)
          for (xcb_window_t k : kids[parent]) {
            if (!found && kidHas[kid]) {
              clients[i] = k;
              found = true;
            }
            next.push_back(k);
            ++kid;
          }
        level[i] = std::move(next);
        if (!found && !level[i].empty()) still.push_back(i);
      }
      open = std::move(still);
    }
    return clients;
  }

  struct Asked {
    xcb_get_property_cookie_t wmClass, netWmName, wmName;
  };
  std::vector<Asked> askAbout(const std::vector<xcb_window_t>& windows) {
    std::vector<Asked> asked;
    asked.reserve(windows.size());
    for (xcb_window_t w : windows)
      asked.push_back({askText(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING), askText(w, netWmName, utf8),
                       askText(w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY)});
    return asked;
  }
  // A window that answers for its properties exists: no request of its own is needed for that.
  std::unordered_map<xcb_window_t, Known> look(const std::vector<xcb_window_t>& windows,
                                               const std::vector<Asked>& asked) {
    std::unordered_map<xcb_window_t, Known> known;
    known.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
      Known k;
      bool vanished = false;
      k.wmClass = text(asked[i].wmClass, &vanished);
      k.netWmName = text(asked[i].netWmName, &vanished);
      k.wmName = text(asked[i].wmName, &vanished);
      k.answers = !vanished;
      known.emplace(windows[i], std::move(k));
    }
    return known;
  }

  const Known* seen(xcb_window_t w) const {
    if (!walk) return nullptr;
    const auto it = walk->find(w);
    return it == walk->end() ? nullptr : &it->second;
  }

  void send(xcb_window_t w, std::uint32_t what, std::uint32_t argument) {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = w;
    e.type = command;
    e.data.data32[0] = what;
    e.data.data32[1] = argument;
    // No event mask: the event goes to the client that created the window.
    xcb_send_event(c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
    // Flushed is not enough: a copy that sends and then ends at once can leave its last requests
    // unread by the server, which drops them as it notices the connection closed (seen on Xorg
    // and Xvfb 21.1: about one message in twenty never reached the other copy).
    x11::roundTrip(c);
    drain();  // what came while waiting (an error for a window gone) waits in xcb's queue
  }

  void drain() {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
      if (e->response_type == 0)
        x11::reportError(*reinterpret_cast<const xcb_generic_error_t*>(e),
                         "on the connection of the single-instance guard");
      else if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(e);
        if (m->window == own && m->type == command && bringForward) bringForward();
      }
      std::free(e);
    }
  }
};

X11Windows::X11Windows(std::function<void()> bringForward) : d_(std::make_unique<Impl>()) {
  d_->bringForward = std::move(bringForward);
  // The screen the program's windows are on: the walk and the hidden window must be there too.
  std::tie(d_->connection, d_->screen) = x11::connectToDisplay();
  if (!d_->screen) throw std::runtime_error("the X display has no such screen");
  d_->c = d_->connection.get();
  d_->wmState = d_->atom("WM_STATE");
  d_->netWmName = d_->atom("_NET_WM_NAME");
  d_->utf8 = d_->atom("UTF8_STRING");
  d_->netWmPid = d_->atom("_NET_WM_PID");
  d_->command = d_->atom("_VENDREL_APPLICATION_COMMAND");

  // The hidden application window: a child of the root that is never mapped.
  d_->own = xcb_generate_id(d_->c);
  const std::uint32_t overrideRedirect = 1;
  xcb_create_window(d_->c, XCB_COPY_FROM_PARENT, d_->own, d_->screen->root, -100, -100, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                    &overrideRedirect);
  const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
  d_->setProperty(d_->own, d_->netWmPid, XCB_ATOM_CARDINAL, 32, &pid, 1);
  xcb_flush(d_->c);

  d_->notifier =
      std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(d_->c), QSocketNotifier::Read);
  QObject::connect(d_->notifier.get(), &QSocketNotifier::activated, [this] { d_->drain(); });
}

X11Windows::~X11Windows() {
  d_->notifier.reset();
  xcb_destroy_window(d_->c, d_->own);  // the connection goes with d_
}

void X11Windows::setApplicationTitle(const QString& title) {
  const QByteArray t = title.toUtf8();
  const auto n = static_cast<std::uint32_t>(t.size());
  d_->setProperty(d_->own, d_->netWmName, d_->utf8, 8, t.constData(), n);
  d_->setProperty(d_->own, XCB_ATOM_WM_NAME, d_->utf8, 8, t.constData(), n);
  xcb_flush(d_->c);
}

void X11Windows::enumerate(const std::function<bool(WindowHandle)>& visit) {
  // Events read while waiting for replies wait in xcb's queue, where the notifier cannot see
  // them.
  QTimer::singleShot(0, d_->notifier.get(), [this] { d_->drain(); });
  std::unordered_map<xcb_window_t, Impl::Known> known;
  std::vector<xcb_window_t> clients;
  {
    // Copies started together must see each other in one order: the server is held while this
    // copy makes its window known by its class and looks at all the others, so of copies that
    // start at once the first to look sees only itself, and stays. Held only for the looking:
    // the visitor reads what was seen, and may throw.
    ServerGrab grab(d_->c);
    if (!d_->announced) {
      static const char cls[] = "vendrel\0TApplication";
      d_->setProperty(d_->own, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, cls, sizeof cls);
      d_->announced = true;
    }
    std::vector<xcb_window_t> tops = d_->children({d_->screen->root}).front();  // bottom to top
    std::reverse(tops.begin(), tops.end());
    clients = d_->clientsOf(tops);
    const auto asked = d_->askAbout(clients);
    grab.release();  // the last questions are out: the server answers them before it lets go
    known = d_->look(clients, asked);
  }
  d_->walk = &known;
  const struct Forget {
    Impl& d;
    ~Forget() { d.walk = nullptr; }
  } forget{*d_};
  for (xcb_window_t w : clients)
    if (!visit(w)) break;
}

bool X11Windows::showsWindowOf(qint64 pid) {
  const std::vector<xcb_window_t> clients = d_->clientsOf(d_->children({d_->screen->root}).front());
  std::vector<xcb_get_property_cookie_t> asked;
  asked.reserve(clients.size());
  for (xcb_window_t w : clients)
    asked.push_back(xcb_get_property(d_->c, 0, w, d_->netWmPid, XCB_ATOM_CARDINAL, 0, 1));
  bool shows = false;
  for (auto cookie : asked) {  // every reply read, found or not
    xcb_generic_error_t* e = nullptr;
    auto r = d_->reply(xcb_get_property_reply(d_->c, cookie, &e), &e, "reading _NET_WM_PID");
    if (r && xcb_get_property_value_length(r.get()) == 4)
      shows |= *static_cast<const std::uint32_t*>(xcb_get_property_value(r.get())) == pid;
  }
  return shows;
}

std::uint32_t X11Windows::owningThread(WindowHandle window) {
  // X has no threads: any window that still answers has an owner.
  if (const Impl::Known* k = d_->seen(window)) return k->answers ? 1u : 0u;
  return d_->answers(xcb_get_window_attributes(d_->c, window)) ? 1u : 0u;
}

QByteArray X11Windows::className(WindowHandle window, int limit) {
  const Impl::Known* k = d_->seen(window);
  const QByteArray wmClass = (k ? k->wmClass : d_->text(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING))
                                 .value_or(QByteArray());
  QByteArray cls = wmClass.mid(wmClass.indexOf('\0') + 1);  // "instance\0class\0"
  if (const qsizetype end = cls.indexOf('\0'); end >= 0) cls.truncate(end);
  return cls.left(limit - 1);
}

QByteArray X11Windows::title(WindowHandle window, int limit) {
  const Impl::Known* k = d_->seen(window);
  auto t = k ? k->netWmName : d_->text(window, d_->netWmName, d_->utf8);
  if (!t) t = k ? k->wmName : d_->text(window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY);
  return t.value_or(QByteArray()).left(limit - 1);
}

void X11Windows::setForeground(WindowHandle window) {
  d_->send(window, CommandForeground, 0);
}

void X11Windows::show(WindowHandle window, int command) {
  d_->send(window, CommandShow, static_cast<std::uint32_t>(command));
}
