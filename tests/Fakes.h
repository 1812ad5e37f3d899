#pragma once

#include <QImage>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/Application.h"
#include "platform/Desktop.h"
#include "platform/PixelCanvas.h"

// A desktop made of one picture: root-window pixel (x, y) is picture pixel (x, y).
class FakeDesktop : public Desktop {
 public:
  QImage picture;
  QPoint pointerAt{500, 400};
  std::vector<Rect> monitorList;
  bool pointerFails = false;
  bool captureFails = false;
  int pointerQueries = 0;
  int binds = 0;
  int releases = 0;

  FakeDesktop(int width, int height);
  QPoint pointer() override;
  const std::vector<Rect>& monitors() override { return monitorList; }
  std::unique_ptr<ScreenCanvas> createCanvas() override;
};

// The application object around a fake desktop; records the help commands it is given.
class FakeApplication : public Application {
 public:
  explicit FakeApplication(int screenWidth = 1024, int screenHeight = 768,
                           const QString& exe = QStringLiteral("/opt/tools/vendrel"));
  ~FakeApplication() override;

  void helpCommand(int command, int data) override { helpCalls.emplace_back(command, data); }
  Desktop& desktop() override { return fakeDesktop; }

  FakeDesktop fakeDesktop;
  std::vector<std::pair<int, int>> helpCalls;
};
