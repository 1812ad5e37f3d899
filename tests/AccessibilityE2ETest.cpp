#include <atspi/atspi.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <memory>

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
    ASSERT_TRUE(files_.isValid());
    startServer({});
    // A session bus of the test's own, and on it the accessibility bus's launcher, which also
    // tells the X server where that bus is.
    const QString bus = QStringLiteral("unix:path=") + files_.filePath(QStringLiteral("bus"));
    const QStringList session{QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + bus,
                              QStringLiteral("DISPLAY=") + screen->display()};
    dbus_ = std::make_unique<ChildProcess>(
        QStringLiteral("dbus-daemon"),
        QStringList{QStringLiteral("--session"), QStringLiteral("--address=") + bus,
                    QStringLiteral("--nofork"), QStringLiteral("--nopidfile")},
        session, true);
    waitUntil([&] { return QFile::exists(files_.filePath(QStringLiteral("bus"))); });
    launcher_ = std::make_unique<ChildProcess>(
        QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
        QStringList{QStringLiteral("--launch-immediately"), QStringLiteral("--a11y=1")}, session,
        true);
    ASSERT_TRUE(waitUntil([&] { return x->hasProperty(x->root(), "AT_SPI_BUS"); }))
        << "the accessibility bus did not start";
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    qputenv("DISPLAY", screen->display().toUtf8());
    qunsetenv("AT_SPI_BUS_ADDRESS");
    ASSERT_EQ(atspi_init(), 0);
    environment << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + bus
                << QStringLiteral("AT_SPI_BUS_ADDRESS")  // found through the session bus
                << QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    program = launch();
    ASSERT_TRUE(waitForMagnifier());
  }

  // The magnifier's application on the bus, once it has shown its window there.
  Node application() {
    Node found;
    waitUntil([&] {
      Node desktop(atspi_get_desktop(0));
      const gint n = atspi_accessible_get_child_count(desktop.get(), nullptr);
      for (gint i = 0; i < n; ++i) {
        Node app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
        if (app &&
            static_cast<int>(atspi_accessible_get_process_id(app.get(), nullptr)) ==
                program->pid() &&
            atspi_accessible_get_child_count(app.get(), nullptr) > 0) {
          atspi_accessible_set_cache_mask(app.get(), ATSPI_CACHE_NONE);  // always ask
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

 private:
  QTemporaryDir files_;
  std::unique_ptr<ChildProcess> dbus_, launcher_;
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

}  // namespace
