#include "platform/x11/X11Windows.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

constexpr std::uint32_t CommandForeground = 0;
constexpr std::uint32_t CommandShow = 1;

}  // namespace

struct X11Windows::Impl {
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

  // A text property, or nothing when the window has none (or is gone).
  std::optional<QByteArray> text(xcb_window_t w, xcb_atom_t name, xcb_atom_t type) {
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, type, 0, 1024), nullptr));
    if (!r || r->type == XCB_ATOM_NONE || r->format != 8) return std::nullopt;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                      xcb_get_property_value_length(r.get()));
  }

  bool hasWmState(xcb_window_t w) {
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, wmState, XCB_ATOM_ANY, 0, 0), nullptr));
    return r && r->type != XCB_ATOM_NONE;
  }

  std::vector<xcb_window_t> children(xcb_window_t w) {
    Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!r) return {};
    const xcb_window_t* kids = xcb_query_tree_children(r.get());
    return {kids, kids + xcb_query_tree_children_length(r.get())};
  }

  // Under a window manager the program's window sits inside a frame: it is the descendant that
  // carries WM_STATE. Without one, the child of the root is the window itself.
  xcb_window_t clientOf(xcb_window_t top) {
    if (hasWmState(top)) return top;
    std::vector<xcb_window_t> level{top};
    for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
      std::vector<xcb_window_t> next;
      for (xcb_window_t w : level)
        for (xcb_window_t k : children(w)) {
          if (hasWmState(k)) return k;
          next.push_back(k);
        }
      level = std::move(next);
    }
    return top;
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
    xcb_flush(c);
  }

  void drain() {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
      if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(e);
        if (m->window == own && m->type == command && bringForward) bringForward();
      }
      std::free(e);
    }
  }
};

X11Windows::X11Windows(std::function<void()> bringForward) : d_(std::make_unique<Impl>()) {
  d_->bringForward = std::move(bringForward);
  d_->c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(d_->c)) {
    xcb_disconnect(d_->c);
    throw std::runtime_error("cannot open the X display");
  }
  d_->screen = xcb_setup_roots_iterator(xcb_get_setup(d_->c)).data;
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
  xcb_destroy_window(d_->c, d_->own);
  xcb_disconnect(d_->c);
}

void X11Windows::setApplicationTitle(const QString& title) {
  const QByteArray t = title.toUtf8();
  const auto n = static_cast<std::uint32_t>(t.size());
  d_->setProperty(d_->own, d_->netWmName, d_->utf8, 8, t.constData(), n);
  d_->setProperty(d_->own, XCB_ATOM_WM_NAME, d_->utf8, 8, t.constData(), n);
  xcb_flush(d_->c);
}

void X11Windows::enumerate(const std::function<bool(WindowHandle)>& visit) {
  // Copies started together must see each other in one order: the server is held while this
  // copy makes its window known by its class and walks, so of copies that start at once the
  // first to walk sees only itself, and stays.
  xcb_grab_server(d_->c);
  if (!d_->announced) {
    static const char cls[] = "vendrel\0TApplication";
    d_->setProperty(d_->own, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, cls, sizeof cls);
    d_->announced = true;
  }
  std::vector<xcb_window_t> tops = d_->children(d_->screen->root);  // bottom to top
  for (auto it = tops.rbegin(); it != tops.rend(); ++it)
    if (!visit(d_->clientOf(*it))) break;
  xcb_ungrab_server(d_->c);
  xcb_flush(d_->c);
  // Events read while waiting for replies wait in xcb's queue, where the notifier cannot see
  // them.
  QTimer::singleShot(0, d_->notifier.get(), [this] { d_->drain(); });
}

std::uint32_t X11Windows::owningThread(WindowHandle window) {
  Reply<xcb_get_window_attributes_reply_t> r(
      xcb_get_window_attributes_reply(d_->c, xcb_get_window_attributes(d_->c, window), nullptr));
  return r ? 1u : 0u;  // X has no threads: any window that still answers has an owner
}

QByteArray X11Windows::className(WindowHandle window, int limit) {
  const QByteArray wmClass =
      d_->text(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).value_or(QByteArray());
  QByteArray cls = wmClass.mid(wmClass.indexOf('\0') + 1);  // "instance\0class\0"
  if (const qsizetype end = cls.indexOf('\0'); end >= 0) cls.truncate(end);
  return cls.left(limit - 1);
}

QByteArray X11Windows::title(WindowHandle window, int limit) {
  auto t = d_->text(window, d_->netWmName, d_->utf8);
  if (!t) t = d_->text(window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY);
  return t.value_or(QByteArray()).left(limit - 1);
}

void X11Windows::setForeground(WindowHandle window) {
  d_->send(window, CommandForeground, 0);
}

void X11Windows::show(WindowHandle window, int command) {
  d_->send(window, CommandShow, static_cast<std::uint32_t>(command));
}
