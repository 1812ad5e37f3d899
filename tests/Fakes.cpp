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
  if (pointerThrowsForeign) throw 7;
  return pointerAt;
}

std::unique_ptr<ScreenCanvas> FakeDesktop::createCanvas() {
  return std::make_unique<FakeCanvas>(*this);
}

FakeApplication::FakeApplication(int screenWidth, int screenHeight, const QString& exe)
    : fakeDesktop(screenWidth, screenHeight) {
  setExeName(exe);
  fakeWindows.list.push_back({OwnWindow, "TApplication", ""});
}

void FakeApplication::setTitle(const QString& title) {
  Application::setTitle(title);
  for (FakeWindow& w : fakeWindows.list)
    if (w.handle == OwnWindow) w.title = title.toUtf8();
}

void FakeWindows::enumerate(const std::function<bool(WindowHandle)>& visit) {
  for (const FakeWindow& w : list)
    if (!visit(w.handle)) break;
}

const FakeWindow* FakeWindows::find(WindowHandle window) const {
  for (const FakeWindow& w : list)
    if (w.handle == window) return &w;
  return nullptr;
}

std::uint32_t FakeWindows::owningThread(WindowHandle window) {
  examined.push_back(window);
  const FakeWindow* w = find(window);
  return w && !w->gone ? 7 : 0;
}

QByteArray FakeWindows::className(WindowHandle window, int limit) {
  const FakeWindow* w = find(window);
  return w ? w->className.left(limit - 1) : QByteArray();
}

QByteArray FakeWindows::title(WindowHandle window, int limit) {
  const FakeWindow* w = find(window);
  return w ? w->title.left(limit - 1) : QByteArray();
}

FakeApplication::~FakeApplication() {
  releaseForms();
}

bool FakeSystemInfo::computerName(char* buffer, std::uint32_t& size) {
  if (fails) {
    size = 0;
    return false;
  }
  return copyComputerName(name.constData(), static_cast<std::uint32_t>(name.size()), buffer, size);
}
