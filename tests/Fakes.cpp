#include "tests/Fakes.h"

#include "tools/XSession.h"

namespace {

class FakeSurface : public PixelSurface {
 public:
  explicit FakeSurface(FakeScreen& screen) : screen_(screen) {}
  void bind() override { ++screen_.binds; }
  void release() noexcept override { ++screen_.releases; }

 private:
  FakeScreen& screen_;
};

}  // namespace

FakeScreen::FakeScreen(int width, int height)
    : picture(uniquePixelPicture(width, height)), monitorList{{0, 0, width, height}} {}

QPoint FakeScreen::pointer() {
  ++pointerQueries;
  if (pointerFails) throw std::runtime_error("no pointer");
  if (pointerThrowsForeign) throw 7;
  return pointerAt;
}

CapturedPixels FakeScreen::capture(const Rect& area) {
  if (captureFails) throw std::runtime_error("capture failed");
  const auto* bits = reinterpret_cast<const std::uint32_t*>(picture.constBits());
  const int stride = picture.bytesPerLine() / 4;
  return {bits + area.top * stride + area.left, stride, area};
}

std::unique_ptr<ViewSurface> FakeScreen::createSurface() {
  return std::make_unique<FakeSurface>(*this);
}

FakeApplication::FakeApplication(int screenWidth, int screenHeight, const QString& exe)
    : fakeScreen(screenWidth, screenHeight) {
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
