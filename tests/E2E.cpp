#include "tests/E2E.h"

#include "tests/Enlargement.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

void Magnifier::startServer(const Options& options) {
  if (options.monitors.empty()) {
    screen = std::make_unique<VirtualScreen>(options.width, options.height, options.serverOptions);
  } else {
    try {
      screen =
          std::make_unique<VirtualScreen>(options.monitors, QSize(options.width, options.height));
    } catch (const std::runtime_error& e) {
      GTEST_SKIP() << "no Xorg with the dummy driver here: " << e.what();
    }
  }
  if (options.windowManager) screen->startWindowManager();
  x = std::make_unique<XSession>(screen->display());
  coverScreen();
  x->movePointer(10, options.height - 10);
}

void Magnifier::startAccessibilityBus() {
  ASSERT_NO_THROW(bus_ = std::make_unique<AccessibilityBus>(screen->display(), *x));
  const QStringList session = bus_->environment();
  qputenv("DBUS_SESSION_BUS_ADDRESS", session.front().section(u'=', 1).toUtf8());
  qputenv("DISPLAY", screen->display().toUtf8());
  qunsetenv("AT_SPI_BUS_ADDRESS");
  environment << session;
}

void Magnifier::useXwayland(const QString& display, QSize desktop) {
  xwayland_ = display;
  x = std::make_unique<XSession>(display);
  width_ = desktop.width();
  x->showPicture(uniquePixelPicture(desktop.width(), desktop.height()), {0, 0});
}

QImage Magnifier::grabView(const QRect& view) {
  if (xwayland_.isEmpty()) return x->grab(view);
  return x->grab(view.translated(-window.client.topLeft()), window.id);
}

void Magnifier::saveScreen() {
  // Xwayland's root holds nothing to see: the magnifier's window then, as it stands.
  const QImage shown = xwayland_.isEmpty()
                           ? x->grab(QRect(QPoint(0, 0), x->screenSize()))
                           : x->grab(QRect(QPoint(0, 0), window.client.size()), window.id);
  shown.save(QStringLiteral("/tmp/e2e-fail.png"));
}

void Magnifier::coverScreen() {
  const QSize size = x->screenSize();
  width_ = size.width();
  x->setRootPicture(uniquePixelPicture(size.width(), size.height()));
}

::testing::AssertionResult Magnifier::waitForMagnifier() {
  auto shown = x->waitForWindow(QStringLiteral("Вендрел (x"));
  if (!shown) return ::testing::AssertionFailure() << "the magnifier window did not appear";
  window = *shown;
  return ::testing::AssertionSuccess();
}

void Magnifier::start(const Options& options) {
  ASSERT_TRUE(folder_.isValid());
  startServer(options);
  if (IsSkipped() || HasFatalFailure()) return;
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
}

QString Magnifier::placeProgram() {
  const QString exe = folder_.filePath(QStringLiteral("vendrel"));
  if (!QFile::exists(exe)) {
    if (!QFile::copy(QStringLiteral(VENDREL_BINARY), exe))
      throw std::runtime_error("cannot copy the program");
    QDir(folder_.path()).mkpath(QStringLiteral("Vendrel"));
  }
  return exe;
}

std::unique_ptr<ChildProcess> Magnifier::launch(const QStringList& prefix) {
  QStringList command = prefix + QStringList{placeProgram()};
  const QString program = command.takeFirst();
  return std::make_unique<ChildProcess>(
      program, command,
      QStringList{QStringLiteral("DISPLAY=") + (screen ? screen->display() : xwayland_)} +
          environment);
}

QRect Magnifier::viewOnScreen() {
  for (const WindowInfo& w : x->topLevels())
    if (w.id == window.id) window = w;
  const QRect c = window.client;
  const int s = scale;  // the bevel and the panel grow with it
  return {c.x() + s, c.y() + s, c.width() - 2 * s, c.height() - 83 * s - 2 * s};
}

QPoint Magnifier::plusButton() {
  const QRect c = viewOnScreen();
  return {c.x() - scale + (216 + 24) * scale, c.bottom() + scale + 1 + (7 + 24) * scale};
}

QPoint Magnifier::minusButton() {
  const QRect c = viewOnScreen();
  return {c.x() - scale + (8 + 24) * scale, c.bottom() + scale + 1 + (7 + 24) * scale};
}

::testing::AssertionResult Magnifier::viewShows(const Rect& source, int ms) {
  const QRect view = viewOnScreen();
  // The program draws with RENDER: exact where the scale is whole, else the server's sampling.
  const bool whole = view.width() % std::max(source.width(), 1) == 0 &&
                     view.height() % std::max(source.height(), 1) == 0;
  QString last;
  if (waitUntil(
          [&] {
            last = checkEnlargement(grabView(view), source, width_,
                                    whole ? Match::Exact : Match::Nearest);
            return last.isEmpty();
          },
          ms))
    return ::testing::AssertionSuccess();
  saveScreen();
  return ::testing::AssertionFailure() << last.toStdString();
}

::testing::AssertionResult Magnifier::viewIsBlank(QRgb* colour, int ms) {
  const QRect view = viewOnScreen();
  QString last;
  QRgb first = 0;
  const bool blank = waitUntil(
      [&] {
        const QImage shown = grabView(view);
        first = shown.pixel(0, 0);
        last.clear();
        for (int y = 0; y < shown.height() && last.isEmpty(); ++y)
          for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) != first) {
              last = QStringLiteral("view (%1,%2) is #%3, view (0,0) #%4")
                         .arg(x)
                         .arg(y)
                         .arg(shown.pixel(x, y) & 0xffffffu, 6, 16, QChar('0'))
                         .arg(first & 0xffffffu, 6, 16, QChar('0'));
              break;
            }
        return last.isEmpty();
      },
      ms);
  if (blank) {
    if (colour) *colour = first;
    return ::testing::AssertionSuccess();
  }
  saveScreen();
  return ::testing::AssertionFailure() << last.toStdString();
}

::testing::AssertionResult Magnifier::zoomIn() {
  auto caption = [this] {
    for (const WindowInfo& w : x->topLevels())
      if (w.id == window.id) return w.title;
    return QString();
  };
  const QString before = caption();
  const int zoom = before.section(QStringLiteral("(x"), 1).section(u')', 0, 0).toInt();
  const QString want = QStringLiteral("Вендрел (x%1)").arg(zoom + 1);
  // A click taken by the window manager changes nothing: only then is it worth another. The
  // wait for a change is long enough that a slow program is never clicked twice.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const QPoint plus = plusButton();
    x->click(1, plus.x(), plus.y());
    if (waitUntil([&] { return caption() != before; }, Patience / 4)) break;
  }
  if (caption() == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the caption is '" << caption().toStdString()
                                       << "', not '" << want.toStdString() << "'";
}

QImage Magnifier::statusStrip() {
  const QRect v = viewOnScreen();
  return grabView(QRect(v.x() - 1 + 8, v.bottom() + 2 + 62, 257, 17));
}

::testing::AssertionResult Magnifier::waitForTick(QPoint mark) {
  const QRect view = viewOnScreen();
  const QImage before = grabView(view);
  const QRect spot(mark, QSize(1, 1));
  const QRgb was = x->grab(spot).pixel(0, 0);
  x->paint(x->root(), spot, ~was | 0xff000000u);
  const bool ticked = waitUntil([&] { return grabView(view) != before; });
  x->paint(x->root(), spot, was);
  if (!ticked) {
    saveScreen();
    return ::testing::AssertionFailure() << "the view never showed a pixel drawn in its source";
  }
  if (!waitUntil([&] { return grabView(view) == before; })) {
    saveScreen();
    return ::testing::AssertionFailure() << "the view did not show the pixel put back";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Magnifier::freeze(QPoint mark) {
  const QImage sliding = statusStrip();
  x->pressKeys({keysym::Control_L, keysym::Insert});
  if (!waitUntil([&] { return statusStrip() != sliding; }))
    return ::testing::AssertionFailure() << "the status strip did not change on Ctrl+Insert";
  return waitForTick(mark);
}

::testing::AssertionResult Magnifier::openContextMenu(QPoint at) {
  auto shown = [this] {
    int n = 0;
    for (const WindowInfo& w : x->topLevels()) n += w.viewable;
    return n;
  };
  const int before = shown();
  x->click(3, at.x(), at.y());
  if (waitUntil([&] { return shown() > before; })) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no context menu came up";
}

::testing::AssertionResult Magnifier::closeThroughTheWarning() {
  x->closeWindow(window.id);
  const auto box = x->waitForWindowTitled(QStringLiteral("Вендрел"));
  if (!box) return ::testing::AssertionFailure() << "no warning that the settings were not saved";
  x->closeWindow(box->id);
  const auto status = program->wait();
  if (!status)
    return ::testing::AssertionFailure() << "the program did not end once the warning was closed";
  if (*status != 0) return ::testing::AssertionFailure() << "status " << *status;
  return ::testing::AssertionSuccess();
}
