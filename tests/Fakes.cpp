#include "tests/Fakes.h"

#include "tools/XSession.h"

namespace {

class FakeCanvas : public PixelCanvas {
 public:
  explicit FakeCanvas(FakeDesktop& desktop) : desktop_(desktop) {}
  void bind() override { ++desktop_.binds; }
  void release() noexcept override { ++desktop_.releases; }

 protected:
  Rect desktopBounds() override {
    return {0, 0, desktop_.picture.width(), desktop_.picture.height()};
  }
  CapturedPixels capture(const Rect& area) override {
    if (desktop_.captureFails) throw std::runtime_error("capture failed");
    const auto* bits = reinterpret_cast<const std::uint32_t*>(desktop_.picture.constBits());
    const int stride = desktop_.picture.bytesPerLine() / 4;
    return {bits + area.top * stride + area.left, stride, area};
  }

 private:
  FakeDesktop& desktop_;
};

}  // namespace

FakeDesktop::FakeDesktop(int width, int height)
    : picture(uniquePixelPicture(width, height)), monitorList{{0, 0, width, height}} {}

QPoint FakeDesktop::pointer() {
  ++pointerQueries;
  if (pointerFails) throw std::runtime_error("no pointer");
  return pointerAt;
}

std::unique_ptr<ScreenCanvas> FakeDesktop::createCanvas() {
  return std::make_unique<FakeCanvas>(*this);
}

FakeApplication::FakeApplication(int screenWidth, int screenHeight, const QString& exe)
    : fakeDesktop(screenWidth, screenHeight) {
  setExeName(exe);
}

FakeApplication::~FakeApplication() { releaseForms(); }

