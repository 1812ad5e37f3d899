// Tests of the X11 platform layer against a real X server: one Xvfb for the whole run, with
// Qt on its xcb platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>

#include "platform/x11/X11Display.h"
#include "tests/OnX.h"

VirtualScreen* OnX::screen = nullptr;
XSession* OnX::x = nullptr;

int main(int argc, char** argv) {
  // --plain-server: a server without MIT-SHM, RENDER and DAMAGE, where only the slowest paths
  // work and nothing tells of changes on the screen.
  QStringList options;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--plain-server") == 0)
      options = {QStringLiteral("-extension"), QStringLiteral("MIT-SHM"),
                 QStringLiteral("-extension"), QStringLiteral("RENDER"),
                 QStringLiteral("-extension"), QStringLiteral("DAMAGE")};
  VirtualScreen screen(OnX::ScreenWidth, OnX::ScreenHeight, options);
  qputenv("DISPLAY", screen.display().toLocal8Bit());
  useXcbInPhysicalPixels();
  QApplication app(argc, argv);
  XSession x(screen.display());
  x.setRootPicture(uniquePixelPicture(OnX::ScreenWidth, OnX::ScreenHeight));
  OnX::screen = &screen;
  OnX::x = &x;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
