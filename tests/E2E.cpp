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
  const QImage shown = xwayland_.isEmpty() ? x->grab(QRect(QPoint(0, 0), x->screenSize()))
                                           : x->grab(QRect(QPoint(0, 0), window.client.size()),
                                                     window.id);
  shown.save(QStringLiteral("/tmp/e2e-fail.png"));
}

void Magnifier::coverScreen() {
  const QSize size = x->screenSize();
  width_ = size.width();
  x->setRootPicture(uniquePixelPicture(size.width(), size.height()));
}

::testing::AssertionResult Magnifier::waitForMagnifier() {
  auto shown = x->waitForWindow(QStringLiteral("Вендрел (x"), 10000);
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
  for (int waited = 0; waited <= ms; waited += 10) {
    last = checkEnlargement(grabView(view), source, width_, whole ? Match::Exact : Match::Nearest);
    if (last.isEmpty()) return ::testing::AssertionSuccess();
    sleepMs(10);
  }
  saveScreen();
  return ::testing::AssertionFailure() << last.toStdString();
}

::testing::AssertionResult Magnifier::viewIsBlank(QRgb* colour, int ms) {
  const QRect view = viewOnScreen();
  QString last;
  for (int waited = 0; waited <= ms; waited += 25) {
    const QImage shown = grabView(view);
    const QRgb first = shown.pixel(0, 0);
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
    if (last.isEmpty()) {
      if (colour) *colour = first;
      return ::testing::AssertionSuccess();
    }
    sleepMs(25);
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
  for (int attempt = 0; attempt < 4; ++attempt) {
    const QPoint plus = plusButton();
    x->click(1, plus.x(), plus.y());
    for (int i = 0; i < 50; ++i, sleepMs(20))
      if (caption() == want) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the caption stayed '" << caption().toStdString() << "'";
}

::testing::AssertionResult Magnifier::closeThroughTheWarning() {
  x->closeWindow(window.id);
  std::optional<WindowInfo> box;
  for (int waited = 0; waited < 10000 && !box; waited += 20, sleepMs(20))
    for (const WindowInfo& w : x->topLevels())
      if (w.viewable && w.title == QStringLiteral("Вендрел")) box = w;
  if (!box) return ::testing::AssertionFailure() << "no warning that the settings were not saved";
  x->closeWindow(box->id);
  const auto status = program->wait(5000);
  if (!status)
    return ::testing::AssertionFailure() << "the program did not end once the warning was closed";
  if (*status != 0) return ::testing::AssertionFailure() << "status " << *status;
  return ::testing::AssertionSuccess();
}
