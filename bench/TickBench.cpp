// `make bench`: the cost of one tick against the machine's floor, and the real program's CPU,
// memory and start-up beside xzoom's, all measured in one run on a virtual X server.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <map>
#include <thread>
#include <vector>

#include "app/InstanceMatch.h"
#include "app/Magnify.h"
#include "platform/forms/PaintBox.h"
#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/Stretch.h"
#include "platform/pixels/ViewSurface.h"
#include "platform/portal/PortalSource.h"
#include "platform/x11/X11Display.h"
#include "platform/x11/X11Windows.h"
#include "tools/PortalStandIn.h"
#include "tools/XSession.h"

namespace {

constexpr int ScreenWidth = 1920;
constexpr int ScreenHeight = 1080;

struct Case {
  int width, height, zoom;
};
const Case Cases[] = {
    {270, 186, 3}, {1920, 1080, 1}, {1920, 1080, 3}, {1920, 1080, 4}, {1000, 700, 7}};

XSession* session = nullptr;
std::shared_ptr<X11Display> display;
std::unique_ptr<ScreenSource> x11Screen;

// A figure that was not measured is NaN, never 0: no bar is met by a measurement that is missing.
template <class Map>
double measured(const Map& figures, const typename Map::key_type& name) {
  const auto it = figures.find(name);
  return it == figures.end() ? std::numeric_limits<double>::quiet_NaN() : it->second;
}
double measuredIf(bool taken, double value) {
  return taken ? value : std::numeric_limits<double>::quiet_NaN();
}

bool unmeasured = false;  // a bar had no measurement: the bench ends in failure

const char* verdict(double value, double bar) {
  if (std::isnan(value) || std::isnan(bar)) {
    unmeasured = true;
    return "NOT measured";
  }
  return value <= bar ? "met" : "NOT met";
}

QString caseName(const Case& c) {
  return QStringLiteral("%1x%2 z%3").arg(c.width).arg(c.height).arg(c.zoom);
}

// The view as the program has it: a native window the surface draws on.
std::unique_ptr<PaintBox> makeView(const Case& c) {
  auto view = std::make_unique<PaintBox>(nullptr);
  view->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
  view->setGeometry(ScreenWidth - c.width, ScreenHeight - c.height, c.width, c.height);
  view->show();
  QApplication::processEvents();
  return view;
}

// One tick as the main window runs it: pointer, source rectangle, bind, enlarge, release.
void tick(ScreenSource& screen, ViewSurface& surface, PaintBox& view, const Case& c,
          const ViewMode& mode = {}) {
  const QPoint p = screen.pointer();
  const Rect source = sourceRect(p, c.width, c.height, c.zoom, clampArea(p, screen.monitors()));
  SurfaceBinding bound(surface);
  surface.enlarge(screen, source, view, {0, 0, c.width, c.height}, mode);
}

// The same, then a round trip, so that the server's share of the work is inside the time.
void tickOnce(ScreenSource& screen, ViewSurface& surface, PaintBox& view, const Case& c,
              const ViewMode& mode = {}) {
  tick(screen, surface, view, c, mode);
  sync(*display);
}

// Moves the pointer by a device (XTest) between two spots, so that every tick measured has to
// ask for the pointer and draw anew, as it does while the user moves the mouse.
void nudgePointer(benchmark::State& state, int& step) {
  state.PauseTiming();
  session->movePointer((++step % 2) ? 700 : 702, 400);
  state.ResumeTiming();
}

void Tick(benchmark::State& state, Case c, Drawing drawing, ViewMode mode) {
  // As in the program: the view and the surface are made once, and so are the server's and
  // the shared memory's resources, at the first tick.
  auto view = makeView(c);
  auto surface = createX11Surface(display, drawing);
  session->movePointer(700, 400);
  tickOnce(*x11Screen, *surface, *view, c, mode);
  int step = 0;
  for (auto _ : state) {
    nudgePointer(state, step);
    tickOnce(*x11Screen, *surface, *view, c, mode);
  }
  view.reset();
  QApplication::processEvents();
}

void Memcpy(benchmark::State& state, Case c) {
  const std::size_t bytes = static_cast<std::size_t>(c.width) * c.height * 4;
  std::vector<char> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

// The client-side enlargement alone, memory to memory, by `how`.
using Enlargement = void (Stretcher::*)(const CapturedPixels&, const Rect&, QImage&, const Rect&);
void Enlarge(benchmark::State& state, Case c, Enlargement how) {
  const int sw = 2 * ((c.width / c.zoom) / 2), sh = 2 * ((c.height / c.zoom) / 2);
  const QImage desktop = uniquePixelPicture(sw, sh);
  QImage view(c.width, c.height, QImage::Format_RGB32);
  const CapturedPixels pixels{
      reinterpret_cast<const std::uint32_t*>(desktop.constBits()), sw, {0, 0, sw, sh}};
  Stretcher stretcher;
  for (auto _ : state) {
    (stretcher.*how)(pixels, {0, 0, sw, sh}, view, {0, 0, c.width, c.height});
    benchmark::DoNotOptimize(view.constBits());
  }
}

// The Wayland path, through a stand-in for the compositor and its portal.
std::unique_ptr<PortalStandIn> standIn;
std::unique_ptr<ScreenSource> portalScreen;

// Sets the Wayland path up at the bench's screen size, its pointer at (700, 400); false when
// the stand-in cannot run here.
bool startPortal() {
  try {
    standIn = std::make_unique<PortalStandIn>(
        QStringLiteral(VENDREL_FAKE_PORTAL),
        QStringLiteral("%1x%2+0+0").arg(ScreenWidth).arg(ScreenHeight));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "no portal stand-in: %s\n", e.what());
    return false;
  }
  for (const QString& e : standIn->environment())
    qputenv(e.section('=', 0, 0).toLocal8Bit(), e.section('=', 1).toLocal8Bit());
  portalScreen = createPortalSource({});
  for (int i = 0; i < 500; ++i) {
    if (i % 10 == 0) standIn->tell("cursor 700 400");  // until the streams run, it goes nowhere
    QApplication::processEvents();
    try {
      if (portalScreen->pointer() == QPoint(700, 400)) return true;
    } catch (const std::runtime_error&) {
    }
    sleepMs(10);
  }
  std::fprintf(stderr, "the portal stand-in sent no pointer: %s\n",
               standIn->calls().join(QStringLiteral(" | ")).toLocal8Bit().constData());
  return false;
}

// A tick of the Wayland path: a new frame has come from the compositor (whose own work of
// making it is left out), and the magnifier takes it in and draws it.
void PortalTick(benchmark::State& state, Case c) {
  auto view = makeView(c);
  auto surface = createX11Surface(display, Drawing::ClientSide);
  tickOnce(*portalScreen, *surface, *view, c);
  int step = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // The pointer between two spots, as in the X11 tick: a frame of the same pixels in the
    // same place would show already, and nothing would be drawn.
    standIn->tell((++step % 2) ? "cursor 702 400" : "cursor 700 400");
    standIn->tell("frame");
    sleepMs(20);  // the compositor paints its frame and PipeWire hands it over
    state.ResumeTiming();
    QApplication::processEvents();  // the frame taken in
    tickOnce(*portalScreen, *surface, *view, c);
  }
  view.reset();
  QApplication::processEvents();
}

// A round trip to the server and back (the pointer is kept where it is known to be still, so
// asking for it may cost nothing: this asks for the input focus instead).
void RoundTrip(benchmark::State& state) {
  for (auto _ : state) sync(*display);
}

// The view's modes besides the plain one, each ticked at the design size on the program's path.
std::vector<std::pair<std::string, ViewMode>> viewModes() {
  const std::pair<const char*, Colours> colours[] = {{"normal", Colours::Normal},
                                                     {"inverted", Colours::Inverted},
                                                     {"grey", Colours::Grey},
                                                     {"inverted grey", Colours::InvertedGrey}};
  std::vector<std::pair<std::string, ViewMode>> modes;
  for (const auto& [name, c] : colours)
    for (bool smooth : {false, true})
      if (c != Colours::Normal || smooth)
        modes.emplace_back(std::string(name) + (smooth ? ", smooth" : ""), ViewMode{c, smooth});
  return modes;
}

// The design-size tick on the program's path in each mode against the plain one. The modes take
// turns, a batch of ticks each, in every round: a machine busy with other work then weighs on
// them all alike, which benchmarks run one after the other cannot promise.
void reportModes() {
  constexpr int Rounds = 15, Batch = 20;
  const Case design = Cases[0];
  auto modes = viewModes();
  modes.insert(modes.begin(), {"plain", ViewMode{}});
  auto view = makeView(design);
  auto surface = createX11Surface(display, Drawing::Fastest);
  std::vector<std::vector<double>> us(modes.size());
  int step = 0;
  for (int round = 0; round < Rounds; ++round)
    for (std::size_t i = 0; i < modes.size(); ++i) {
      tickOnce(*x11Screen, *surface, *view, design, modes[i].second);  // the mode's first tick
      std::chrono::steady_clock::duration spent{};
      for (int k = 0; k < Batch; ++k) {
        session->movePointer((++step % 2) ? 700 : 702, 400);
        const auto started = std::chrono::steady_clock::now();
        tickOnce(*x11Screen, *surface, *view, design, modes[i].second);
        spent += std::chrono::steady_clock::now() - started;
      }
      us[i].push_back(std::chrono::duration<double, std::micro>(spent).count() / Batch);
    }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double plain = median(us[0]);
  std::printf(
      "\nThe view's modes at %s on the program's path (median of %d rounds), against the "
      "plain tick %.1f us:\n",
      caseName(design).toLocal8Bit().constData(), Rounds, plain);
  for (std::size_t i = 1; i < modes.size(); ++i) {
    const double t = median(us[i]);
    std::printf("      %-22s %8.1f us %6.2fx (bar 1.5x: %s)\n", modes[i].first.c_str(), t,
                t / plain, verdict(t / plain, 1.5));
  }
  view.reset();
  QApplication::processEvents();
}

// Keeps the median of each benchmark's repetitions.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;  // microseconds
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        medians[r.run_name.function_name] = r.GetAdjustedRealTime();  // in microseconds
    ConsoleReporter::ReportRuns(runs);
  }
};

// ---- the single-instance guard's hold on the server ------------------------------------------

// How long the guard's walk keeps every other client waiting, with `count` top-level windows:
// another connection asks the server for the input focus over and over, and the longest answer
// during a walk is how long the server was held. Medians and worst of 21 walks, in ms.
struct GrabTimes {
  double heldMedian, heldWorst, walkMedian;
};

GrabTimes measureGrab(int count) {
  xcb_connection_t* owner = xcb_connect(nullptr, nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(owner)).data->root;
  const xcb_atom_t utf8 = [&] {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
        xcb_intern_atom_reply(owner, xcb_intern_atom(owner, 0, 11, "UTF8_STRING"), nullptr),
        &std::free);
    return r ? r->atom : xcb_atom_t{XCB_ATOM_STRING};
  }();
  std::vector<xcb_window_t> made;
  for (int i = 0; i < count; ++i) {
    const xcb_window_t w = xcb_generate_id(owner);
    xcb_create_window(owner, XCB_COPY_FROM_PARENT, w, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const QByteArray title = QStringLiteral("Окно %1").arg(i).toUtf8();
    static const char cls[] = "other\0Other";
    xcb_change_property(owner, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, utf8, 8,
                        static_cast<std::uint32_t>(title.size()), title.constData());
    xcb_change_property(owner, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof cls, cls);
    made.push_back(w);
  }
  std::free(xcb_get_input_focus_reply(owner, xcb_get_input_focus(owner), nullptr));

  using Clock = std::chrono::steady_clock;
  std::atomic<bool> stop{false};
  std::atomic<long long> longestNs{0};
  std::atomic<long> answered{0};
  std::thread prober([&] {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    while (!stop && !xcb_connection_has_error(c)) {
      const auto asked = Clock::now();
      std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
      const long long ns = (Clock::now() - asked).count();
      long long seen = longestNs.load();
      while (ns > seen && !longestNs.compare_exchange_weak(seen, ns)) {
      }
      ++answered;
    }
    xcb_disconnect(c);
  });

  X11Windows windows({});
  windows.setApplicationTitle(QStringLiteral("Вендрел"));
  const InstanceTexts texts =
      instanceTexts(QStringLiteral("Вендрел"), QStringLiteral("/opt/vendrel/vendrel"));
  std::vector<double> held, walked;
  for (int walk = 0; walk < 21; ++walk) {
    // The answer in flight when the walk ends comes back soon after it: wait for two.
    const auto walkStarted = Clock::now();
    longestNs = 0;
    int matches = 0;
    windows.enumerate([&](WindowHandle w) {
      if (windows.owningThread(w) == 0) return true;
      matches += isRunningCopy(windows.className(w, 95), windows.title(w, 210), texts);
      return true;
    });
    walked.push_back(std::chrono::duration<double, std::milli>(Clock::now() - walkStarted).count());
    for (const long after = answered + 2; answered < after;) std::this_thread::yield();
    held.push_back(longestNs / 1e6);
    benchmark::DoNotOptimize(matches);
  }
  stop = true;
  prober.join();
  for (xcb_window_t w : made) xcb_destroy_window(owner, w);
  xcb_disconnect(owner);
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  return {median(held), *std::max_element(held.begin(), held.end()), median(walked)};
}

void reportGrab() {
  constexpr int Windows = 1000;
  const GrabTimes t = measureGrab(Windows);
  std::printf(
      "\nSingle-instance guard with %d top-level windows: another client held %.2f ms (median "
      "of 21 walks, worst %.2f ms); the whole walk %.2f ms\n",
      Windows, t.heldMedian, t.heldWorst, t.walkMedian);
  std::printf("Bars: the server held %.2f ms within 15 ms: %s\n", t.heldMedian,
              verdict(t.heldMedian, 15));
}

// ---- the real program ------------------------------------------------------------------------

// CPU time of all the process's threads, to the nanosecond: /proc/PID/stat counts in clock
// ticks, too coarse for a program that wakes twenty times a second for a fraction of a tick.
double cpuSeconds(int pid) {
  double seconds = 0;
  const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
  for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile f(tasks.filePath(task) + QStringLiteral("/schedstat"));
    if (f.open(QIODevice::ReadOnly)) seconds += f.readAll().split(' ').front().toDouble() / 1e9;
  }
  return seconds;
}

// Whether a child is still running (a stopped one counts; one that has ended and not been
// waited for does not).
bool running(int pid) {
  QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray stat = f.readAll();
  const qsizetype close = stat.lastIndexOf(')');
  return close > 0 && close + 2 < stat.size() && stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

int peakRssKb(int pid) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').front().toInt();
  return 0;
}

// A process measured in turns with the others and with nobody (the idle baseline): the
// machine's state drifts, and so each gets its share of every stretch of the run.
struct Contender {
  QString name;
  int pid = 0;  // 0: nobody
  double programSeconds = 0, serverSeconds = 0, wallSeconds = 0;
  int rssKb = 0;
  double firstFrameMs = -1;

  bool ended = false;  // before its turns were over: its figures mean nothing

  double programPercent() const { return programSeconds / wallSeconds * 100; }
  double serverPercent() const { return serverSeconds / wallSeconds * 100; }
};

// What goes on on the screen while the contenders take their turns: called every 20 ms with
// the step's number.
using Scene = std::function<void(XSession& x, int step)>;

Scene movingPointer(QRect area) {
  return [area](XSession& x, int step) {
    x.movePointer(area.x() + (step * 7) % area.width(), area.y() + (step * 3) % area.height());
  };
}

// Gives each contender `seconds` in all, in ten turns, while `scene` plays; the others are
// stopped meanwhile, so the server works for one at a time.
void takeTurns(VirtualScreen& screen, XSession& x, std::vector<Contender>& contenders,
               double seconds, const Scene& scene) {
  constexpr int Turns = 10;
  const int steps = std::max(1, static_cast<int>(seconds * 1000 / 20 / Turns));
  for (const Contender& c : contenders)
    if (c.pid) kill(c.pid, SIGSTOP);
  int step = 0;
  for (int turn = 0; turn < Turns; ++turn)
    for (Contender& c : contenders) {
      if (c.pid) kill(c.pid, SIGCONT);
      sleepMs(50);  // a resumed program first catches up on its timers
      const double program0 = c.pid ? cpuSeconds(c.pid) : 0;
      const double server0 = cpuSeconds(screen.serverPid());
      const auto started = std::chrono::steady_clock::now();
      for (int i = 0; i < steps; ++i, ++step) {
        scene(x, step);
        sleepMs(20);
      }
      c.wallSeconds +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      c.serverSeconds += cpuSeconds(screen.serverPid()) - server0;
      if (c.pid) {
        c.programSeconds += cpuSeconds(c.pid) - program0;
        kill(c.pid, SIGSTOP);
      }
    }
  for (Contender& c : contenders)
    if (c.pid) {
      c.rssKb = peakRssKb(c.pid);
      c.ended = !running(c.pid);
      if (c.ended)
        std::fprintf(stderr, "%s ended during its turns: its figures mean nothing\n",
                     c.name.toLocal8Bit().constData());
      kill(c.pid, SIGCONT);
    }
}

// Milliseconds from start until the pixel at `at` shows the picture near `pointer`.
double firstFrame(XSession& x, QPoint at, QPoint pointer, int screenWidth,
                  const std::chrono::steady_clock::time_point& started) {
  for (int i = 0; i < 5000; ++i) {
    const QPoint shown = uniquePixelAt(x.grab(QRect(at, QSize(1, 1))).pixel(0, 0), screenWidth);
    if ((shown - pointer).manhattanLength() <= 4)
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
          .count();
    sleepMs(1);
  }
  return -1;
}

// Sleeps until the next twentieth of a second after `next`, which it moves on.
void awaitTick(timespec& next) {
  next.tv_nsec += 50'000'000;
  if (next.tv_nsec >= 1'000'000'000) {
    next.tv_nsec -= 1'000'000'000;
    ++next.tv_sec;
  }
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
}

// The loops below run as children of the bench, each measured like the program.

// What every follower of the pointer pays at least: it wakes twenty times a second and asks
// the server where the pointer is, and does nothing else.
int pointerLoop() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return 1;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (!xcb_connection_has_error(c)) {
    awaitTick(next);
    std::free(xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr));
  }
  return 0;
}

// The program's own tick at the design size, twenty times a second, with no event loop around
// it: what drawing adds to the pointer loop, and what the event loop adds to this.
int tickLoop(char** argv, Drawing drawing) {
  useXcbInPhysicalPixels();
  int argc = 1;
  QApplication app(argc, argv);
  const Case design = Cases[0];
  auto view = makeView(design);
  display = openX11Display();
  auto screen = createX11Source(display);
  auto surface = createX11Surface(display, drawing);
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (;;) {
    awaitTick(next);
    try {
      tick(*screen, *surface, *view, design);
    } catch (const std::runtime_error&) {
      return 0;  // the server has gone
    }
  }
}

// What the programs measured get in their environment: an X11 session's, on `screen`, whatever
// the bench itself runs in (the Wayland path's stand-in sets this process up as a Wayland one).
QStringList x11Session(const VirtualScreen& screen) {
  return {QStringLiteral("DISPLAY=") + screen.display(), QStringLiteral("WAYLAND_DISPLAY"),
          QStringLiteral("XDG_SESSION_TYPE=x11")};
}

// The peer: xzoom at 270x186, zoom 3, its delay brought to 50 ms, magnifying the 90x62 pixels at
// `source`. Started first, while its window is the only one to take the keys (with no window
// manager they go under the pointer), and left stopped; null when it does not start.
std::unique_ptr<ChildProcess> startXzoom(XSession& x, const QStringList& env, QPoint source) {
  auto xzoom = std::make_unique<ChildProcess>(
      QStringLiteral("xzoom"),
      QStringList{QStringLiteral("-mag"), QStringLiteral("3"), QStringLiteral("-source"),
                  QStringLiteral("90x62+%1+%2").arg(source.x()).arg(source.y())},
      env);
  auto window = x.waitForWindow(QStringLiteral("xzoom"), 10000);
  if (!window) {
    std::fprintf(stderr, "xzoom did not start: its figures are missing\n");
    return nullptr;
  }
  const QPoint inside = window->client.center();
  x.movePointer(inside.x(), inside.y());
  x.pressKeys({'d'});
  x.pressKeys({'d'});
  kill(xzoom->pid(), SIGSTOP);
  return xzoom;
}

// The program at the design size beside the loops and xzoom, then maximised; each group with
// its idle baseline taken in the same turns.
std::vector<std::vector<Contender>> runPrograms(const QString& program, double seconds) {
  // Two full-HD screens stacked: the windows sit on the top one and the pointer moves over the
  // bottom one (over its own window the view would only be blanked).
  VirtualScreen screen(ScreenWidth, 2 * ScreenHeight);
  XSession x(screen.display());
  x.setRootPicture(uniquePixelPicture(ScreenWidth, 2 * ScreenHeight));
  const QStringList env = x11Session(screen);
  const QRect below(100, ScreenHeight + 100, 1600, 800);
  const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
  auto settle = [] { sleepMs(1000); };  // the rest of a start-up is not what it costs every day

  QTemporaryDir folder;
  const QString exe = folder.filePath(QStringLiteral("vendrel"));
  QFile::copy(program, exe);
  QDir(folder.path()).mkdir(QStringLiteral("Vendrel"));
  std::vector<std::vector<Contender>> out;

  {  // the design size, as it opens with no settings, against the floor loops and xzoom
    std::vector<Contender> c{{QStringLiteral("idle (pointer moving)")}};
    auto xzoom = startXzoom(x, env, {300, ScreenHeight + 300});
    if (xzoom) c.push_back({QStringLiteral("xzoom 270x186 z3"), xzoom->pid()});

    const QPoint pointer(300, ScreenHeight + 300);
    x.movePointer(pointer.x(), pointer.y());
    const auto started = std::chrono::steady_clock::now();
    ChildProcess vendrel(exe, {}, env);
    c.push_back({QStringLiteral("vendrel 270x186 z3"), vendrel.pid()});
    c.back().firstFrameMs =
        firstFrame(x, {ScreenWidth - 280 + 1 + 139, 39 + 1 + 106}, pointer, ScreenWidth, started);
    settle();

    ChildProcess pointerLoop(self, {QStringLiteral("--pointer-loop")}, env);
    c.push_back({QStringLiteral("pointer loop"), pointerLoop.pid()});
    ChildProcess tickLoop(self, {QStringLiteral("--tick-loop")}, env);
    c.push_back({QStringLiteral("tick loop"), tickLoop.pid()});
    ChildProcess clientTickLoop(self, {QStringLiteral("--client-tick-loop")}, env);
    c.push_back({QStringLiteral("client tick loop"), clientTickLoop.pid()});
    settle();

    takeTurns(screen, x, c, seconds, movingPointer(below));
    out.push_back(c);
  }
  {  // maximised: the whole top screen, zoom 1
    QFile ini(folder.filePath(QStringLiteral("Vendrel/Vendrel.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(
        "[TrackBar]\r\nPosition=1\r\n[MainForm]\r\nLeft=0\r\nTop=0\r\nWidth=1920\r\nHeight="
        "1080\r\n");
    ini.close();
    std::vector<Contender> c{{QStringLiteral("idle (pointer moving)")}};
    ChildProcess vendrel(exe, {}, env);
    x.waitForWindow(QStringLiteral("Вендрел"), 10000);
    c.push_back({QStringLiteral("vendrel 1918x995 z1"), vendrel.pid()});
    settle();
    takeTurns(screen, x, c, seconds, movingPointer(below));
    out.push_back(c);
  }
  return out;
}

// The design size while the screen is still, while a small square changes colour under a
// still pointer, and while the pointer moves: the program and xzoom, each scene with its idle
// baseline in the same turns.
struct StillScreen {
  std::vector<std::pair<QString, std::vector<Contender>>> scenes;
  std::vector<double> frameMs;  // how long each frame of the animation took to show
};

StillScreen runStillScreen(const QString& program, double seconds) {
  VirtualScreen screen(ScreenWidth, 2 * ScreenHeight);
  XSession x(screen.display());
  x.setRootPicture(uniquePixelPicture(ScreenWidth, 2 * ScreenHeight));
  const QStringList env = x11Session(screen);
  QTemporaryDir folder;
  const QString exe = folder.filePath(QStringLiteral("vendrel"));
  QFile::copy(program, exe);
  QDir(folder.path()).mkdir(QStringLiteral("Vendrel"));

  // Both magnify the same spot: xzoom its fixed 90x62 source, the program the 92x70 pixels
  // around the still pointer. The square lies inside both.
  const QPoint still(345, ScreenHeight + 331);
  const QRect square(320, ScreenHeight + 306, 50, 50);
  auto colour = [](int frame) { return 0xff000000u | static_cast<QRgb>(0x0a1b2c * (frame + 1)); };
  auto xzoom = startXzoom(x, env, {300, ScreenHeight + 300});
  ChildProcess vendrel(exe, {}, env);
  auto window = x.waitForWindow(QStringLiteral("Вендрел"), 10000);
  sleepMs(1000);

  StillScreen out;
  const std::pair<QString, Scene> scenes[] = {
      {QStringLiteral("still"), [](XSession&, int) {}},
      {QStringLiteral("animation"),
       [&](XSession& s, int step) {
         if (step % 5 == 0) s.paint(s.root(), square, colour(step / 5));  // ten times a second
       }},
      {QStringLiteral("moving"), movingPointer({100, ScreenHeight + 100, 1600, 800})},
  };
  for (const auto& [name, scene] : scenes) {
    x.movePointer(still.x(), still.y());
    std::vector<Contender> c{{QStringLiteral("idle")}};
    if (xzoom) c.push_back({QStringLiteral("xzoom"), xzoom->pid()});
    c.push_back({QStringLiteral("vendrel"), vendrel.pid()});
    takeTurns(screen, x, c, seconds, scene);
    out.scenes.emplace_back(name, c);
  }

  // How soon the program shows each frame, alone on the server: the pixel in the view's middle
  // shows the square's.
  if (xzoom) kill(xzoom->pid(), SIGSTOP);
  x.movePointer(still.x(), still.y());
  sleepMs(500);
  if (window) {
    const QRect c = window->client;
    const QRect middle(c.x() + 1 + 139, c.y() + 1 + 106, 1, 1);
    for (int frame = 0; frame < 40; ++frame) {
      x.paint(x.root(), square, colour(1000 + frame));
      const auto painted = std::chrono::steady_clock::now();
      while (x.grab(middle).pixel(0, 0) != colour(1000 + frame) &&
             std::chrono::steady_clock::now() - painted < std::chrono::seconds(1))
        sleepMs(1);
      out.frameMs.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - painted)
              .count());
      sleepMs(frame % 4 == 0 ? 400 : 100 - static_cast<int>(out.frameMs.back()) % 100);
    }
  }
  if (xzoom) kill(xzoom->pid(), SIGCONT);
  return out;
}

// How often all of a process's threads have gone to sleep and been woken so far.
qint64 wakeUps(int pid) {
  qint64 n = 0;
  const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
  for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile f(tasks.filePath(task) + QStringLiteral("/status"));
    if (!f.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : f.readAll().split('\n'))
      if (line.startsWith("voluntary_ctxt_switches:")) n += line.mid(24).trimmed().toLongLong();
  }
  return n;
}

// The program on the Wayland path, through a stand-in portal of its own, once the pointer
// has come and nothing changes: its wake-ups a second (all its threads); negative when it
// could not be measured.
double portalRestingWakeUps(const QString& program, double seconds) {
  try {
    VirtualScreen screen(ScreenWidth, ScreenHeight);
    PortalStandIn portal(QStringLiteral(VENDREL_FAKE_PORTAL),
                         QStringLiteral("%1x%2+0+0").arg(ScreenWidth).arg(ScreenHeight));
    XSession x(screen.display());
    QTemporaryDir folder;
    const QString exe = folder.filePath(QStringLiteral("vendrel"));
    QFile::copy(program, exe);
    QDir(folder.path()).mkdir(QStringLiteral("Vendrel"));
    ChildProcess vendrel(exe, {},
                         portal.environment() << QStringLiteral("DISPLAY=") + screen.display());
    if (!x.waitForWindow(QStringLiteral("Вендрел"), 10000)) return -1;
    for (int i = 0; i < 20; ++i, sleepMs(100)) portal.tell("cursor 700 400");  // as it starts
    sleepMs(1000);
    const qint64 before = wakeUps(vendrel.pid());
    sleepMs(static_cast<int>(seconds * 1000));
    if (!vendrel.running()) return -1;
    return static_cast<double>(wakeUps(vendrel.pid()) - before) / seconds;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "no portal stand-in for the program: %s\n", e.what());
    return -1;
  }
}

void reportWaylandRest(double wakeUpsPerSecond) {
  std::printf(
      "\nWayland path at rest (the pointer and the picture still): %.1f wake-ups a second "
      "(bar 5: %s)\n",
      wakeUpsPerSecond, verdict(measuredIf(wakeUpsPerSecond >= 0, wakeUpsPerSecond), 5));
}

// The program on X11 over a still screen that holds a GTK window with text fields, on an
// accessibility bus of its own, with both following choices on (`following`) or off: its
// wake-ups a second once it has settled; negative when it could not be measured.
double followingRestWakeUps(const QString& program, double seconds, bool following) {
  try {
    VirtualScreen screen(ScreenWidth, ScreenHeight);
    XSession x(screen.display());
    x.setRootPicture(uniquePixelPicture(ScreenWidth, ScreenHeight));
    const AccessibilityBus bus(screen.display(), x);
    const QStringList environment = bus.environment()
                                    << QStringLiteral("DISPLAY=") + screen.display()
                                    << QStringLiteral("WAYLAND_DISPLAY")
                                    << QStringLiteral("XDG_SESSION_TYPE=x11");
    ChildProcess fields(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(VENDREL_SOURCE_DIR "/tests/FollowPrograms.py"), QStringLiteral("fields")},
        environment, true);
    if (!x.waitForWindow(QStringLiteral("Two fields"), 10000)) return -1;
    QTemporaryDir folder;
    const QString exe = folder.filePath(QStringLiteral("vendrel"));
    QFile::copy(program, exe);
    QDir(folder.path()).mkdir(QStringLiteral("Vendrel"));
    QFile ini(folder.filePath(QStringLiteral("Vendrel/Vendrel.ini")));
    if (!ini.open(QIODevice::WriteOnly)) return -1;
    ini.write(following ? "[Tracking]\r\nFocus=1\r\nCaret=1\r\n" : "");
    ini.close();
    x.movePointer(1500, 700);
    ChildProcess vendrel(exe, {}, environment);
    if (!x.waitForWindow(QStringLiteral("Вендрел"), 10000)) return -1;
    sleepMs(2000);  // started, registered on the bus, and at rest
    const qint64 before = wakeUps(vendrel.pid());
    sleepMs(static_cast<int>(seconds * 1000));
    if (!vendrel.running()) return -1;
    return static_cast<double>(wakeUps(vendrel.pid()) - before) / seconds;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "no accessibility bus for the program: %s\n", e.what());
    return -1;
  }
}

// What following adds to the wake-ups of a still screen (the pointer looked at five times a
// second is there either way).
void reportFollowingRest(const QString& program, double seconds) {
  const double on = followingRestWakeUps(program, seconds, true);
  const double off = followingRestWakeUps(program, seconds, false);
  const double added = measuredIf(on >= 0 && off >= 0, std::max(on - off, 0.0));
  // Half a wake-up a second is what two runs of the same program differ by on a busy machine.
  std::printf(
      "\nA still screen with a GTK window on the accessibility bus: %.1f wake-ups a second "
      "following the keyboard focus and the text cursor, %.1f not following; following adds "
      "%.1f (bar 0, within the count's noise of 0.5: %s)\n",
      on, off, added, verdict(added, 0.5));
}

void reportStillScreen(const StillScreen& r, double seconds) {
  std::printf(
      "\nA still screen at the design size, %.0f s each scene in ten turns (%% of one core, the "
      "program and the server above the idle baseline of the same turns):\n",
      seconds);
  std::printf("%-12s %10s %10s\n", "scene", "xzoom %", "vendrel %");
  std::map<QString, std::map<QString, double>> together;  // scene, contender
  for (const auto& [scene, group] : r.scenes) {
    const double idleServer = group.front().serverPercent();
    for (const Contender& c : group)
      if (c.pid) together[scene][c.name] = c.programPercent() + c.serverPercent() - idleServer;
    std::printf("%-12s %10.2f %10.2f\n", scene.toLocal8Bit().constData(),
                measured(together[scene], QStringLiteral("xzoom")),
                measured(together[scene], QStringLiteral("vendrel")));
  }
  const auto vendrel = QStringLiteral("vendrel"), xzoom = QStringLiteral("xzoom");
  auto of = [&](const QString& scene, const QString& contender) {
    const auto it = together.find(scene);
    return it == together.end() ? std::numeric_limits<double>::quiet_NaN()
                                : measured(it->second, contender);
  };
  const double still = of(QStringLiteral("still"), vendrel);
  const double moving = of(QStringLiteral("moving"), vendrel);
  const double xzoomStill = of(QStringLiteral("still"), xzoom);
  const double xzoomMoving = of(QStringLiteral("moving"), xzoom);
  std::printf("idle/xzoom = %.2f\n", still / xzoomStill);
  std::printf("moving/xzoom = %.2f\n", moving / xzoomMoving);
  std::printf("animation/xzoom = %.2f\n",
              of(QStringLiteral("animation"), vendrel) / of(QStringLiteral("animation"), xzoom));
  std::printf("Bars: still screen %.2f%% at most a quarter of xzoom's %.2f%%: %s\n", still,
              xzoomStill, verdict(still, xzoomStill / 4));
  std::printf("      still screen %.2f%% at most a quarter of its own moving %.2f%%: %s\n", still,
              moving, verdict(still, moving / 4));
  std::printf("      moving %.2f%% at most 1.2x xzoom's %.2f%%: %s\n", moving, xzoomMoving,
              verdict(moving, 1.2 * xzoomMoving));
  if (!r.frameMs.empty()) {
    std::vector<double> ms = r.frameMs;
    std::sort(ms.begin(), ms.end());
    std::printf(
        "      animation: %zu frames shown after %.1f ms at the median, %.1f ms at most "
        "(within 50 ms: %s)\n",
        ms.size(), ms[ms.size() / 2], ms.back(), verdict(ms.back(), 50));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && !std::strcmp(argv[1], "--pointer-loop")) return pointerLoop();
  if (argc == 2 && !std::strcmp(argv[1], "--tick-loop")) return tickLoop(argv, Drawing::Fastest);
  if (argc == 2 && !std::strcmp(argv[1], "--client-tick-loop"))
    return tickLoop(argv, Drawing::ClientSide);
  QString program;
  QString stillOnly;      // --still-screen PROGRAM: that section alone
  QString restOnly;       // --wayland-rest PROGRAM: the Wayland path at rest alone
  QString followingOnly;  // --following-rest PROGRAM: following the keyboard, at rest, alone
  bool grabOnly = false;  // --grab: the single-instance guard's section alone
  double seconds = 20;
  std::vector<char*> args{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--program") && i + 1 < argc)
      program = QString::fromLocal8Bit(argv[++i]);
    else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
      seconds = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--grab"))
      grabOnly = true;
    else if (!std::strcmp(argv[i], "--still-screen") && i + 1 < argc)
      stillOnly = QString::fromLocal8Bit(argv[++i]);
    else if (!std::strcmp(argv[i], "--wayland-rest") && i + 1 < argc)
      restOnly = QString::fromLocal8Bit(argv[++i]);
    else if (!std::strcmp(argv[i], "--following-rest") && i + 1 < argc)
      followingOnly = QString::fromLocal8Bit(argv[++i]);
    else
      args.push_back(argv[i]);
  }
  int benchArgc = static_cast<int>(args.size());
  if (!restOnly.isEmpty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(benchArgc, args.data());
    reportWaylandRest(portalRestingWakeUps(restOnly, seconds));
    return unmeasured ? 1 : 0;
  }
  if (!followingOnly.isEmpty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(benchArgc, args.data());
    reportFollowingRest(followingOnly, seconds);
    return unmeasured ? 1 : 0;
  }
  if (!stillOnly.isEmpty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(benchArgc, args.data());
    reportStillScreen(runStillScreen(stillOnly, seconds), seconds);
    return unmeasured ? 1 : 0;
  }

  VirtualScreen screen(ScreenWidth, ScreenHeight);
  qputenv("DISPLAY", screen.display().toLocal8Bit());
  useXcbInPhysicalPixels();
  QApplication app(benchArgc, args.data());
  XSession x(screen.display());
  x.setRootPicture(uniquePixelPicture(ScreenWidth, ScreenHeight));
  session = &x;
  if (grabOnly) {
    reportGrab();
    return unmeasured ? 1 : 0;
  }
  display = openX11Display();
  x11Screen = createX11Source(display);

  for (const Case& c : Cases) {
    const std::string name = caseName(c).toStdString();
    benchmark::RegisterBenchmark(("tick render " + name).c_str(), Tick, c, Drawing::Fastest,
                                 ViewMode{})
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark(("tick client " + name).c_str(), Tick, c, Drawing::ClientSide,
                                 ViewMode{})
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);
    const std::pair<const char*, Enlargement> enlargements[] = {
        {"enlarge ", &Stretcher::copy},
        {"enlarge smooth ", &Stretcher::smooth},
        {"enlarge smooth greys ", &Stretcher::smoothGreys}};
    for (const auto& [what, how] : enlargements)
      benchmark::RegisterBenchmark((what + name).c_str(), Enlarge, c, how)
          ->Unit(benchmark::kMicrosecond)
          ->Repetitions(7)
          ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark(("memcpy " + name).c_str(), Memcpy, c)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);
  }
  const bool portal = startPortal();
  if (portal)
    benchmark::RegisterBenchmark("tick portal 270x186 z3", PortalTick, Cases[0])
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(200)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);
  benchmark::RegisterBenchmark("round trip", RoundTrip)
      ->Unit(benchmark::kMicrosecond)
      ->Repetitions(7)
      ->ReportAggregatesOnly(true);

  benchmark::Initialize(&benchArgc, args.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto m = [&](const std::string& name) { return measured(reporter.medians, name); };

  const double roundTrip = m("round trip");
  std::printf(
      "\nMedian tick against the floor (a pointer round trip %.1f us plus a memcpy of the view):\n",
      roundTrip);
  std::printf("%-18s %12s %12s %12s %12s %8s %8s\n", "case", "render us", "client us", "memcpy us",
              "floor us", "render", "client");
  for (const Case& c : Cases) {
    const std::string name = caseName(c).toStdString();
    const double floor = roundTrip + m("memcpy " + name);
    std::printf("%-18s %12.1f %12.1f %12.1f %12.1f %7.2fx %7.2fx\n", name.c_str(),
                m("tick render " + name), m("tick client " + name), m("memcpy " + name), floor,
                m("tick render " + name) / floor, m("tick client " + name) / floor);
  }
  const Case& design = Cases[0];
  const std::string designName = caseName(design).toStdString();
  double rss = 0, firstFrameMs = -1;
  const double designRatio =
      m("tick render " + designName) / (2 * roundTrip + m("memcpy " + designName));
  std::printf("\nBars: %s against two round trips plus a memcpy: %.2fx (bar 2x: %s)\n",
              designName.c_str(), designRatio, verdict(designRatio, 2));
  for (const Case& c : Cases)
    if (c.width == ScreenWidth) {
      const std::string name = caseName(c).toStdString();
      const double ratio = m("tick render " + name) / m("memcpy " + name);
      const int bar = c.zoom == 1 ? 5 : 3;
      std::printf("      %s against a memcpy of the frame: %.2fx (bar %dx: %s)\n", name.c_str(),
                  ratio, bar, verdict(ratio, bar));
    }
  reportModes();
  const std::string plainCopy = caseName({ScreenWidth, ScreenHeight, 1}).toStdString();
  for (const Case& c : Cases)
    if (c.width == ScreenWidth && c.zoom > 1) {
      const std::string name = caseName(c).toStdString();
      std::printf(
          "      (%s: the server's nearest-neighbour scaling costs %.2fx its plain copy of "
          "the frame)\n",
          name.c_str(), m("tick render " + name) / m("tick render " + plainCopy));
    }

  if (!program.isEmpty()) {
    std::printf(
        "\nThe real program on a virtual server with the pointer moving, %.0f s each in ten turns "
        "(%% of one core; the server's share above the idle baseline of the same turns):\n",
        seconds);
    std::printf("%-22s %10s %10s %12s %9s %12s\n", "run", "program %", "server %", "together %",
                "RSS MB", "first frame");
    std::map<QString, double> together;
    for (const auto& group : runPrograms(program, seconds)) {
      const double idleServer = group.front().serverPercent();
      for (const Contender& c : group) {
        const double server = c.pid ? c.serverPercent() - idleServer : c.serverPercent();
        const double sum = (c.pid ? c.programPercent() : 0) + server;
        if (c.pid) together[c.name] = sum;
        std::printf(
            "%-22s %10.2f %10.2f %12.2f %9.1f %12s\n", c.name.toLocal8Bit().constData(),
            c.pid ? c.programPercent() : 0, server, sum, c.rssKb / 1024.0,
            c.firstFrameMs >= 0
                ? QStringLiteral("%1 ms").arg(c.firstFrameMs, 0, 'f', 0).toLocal8Bit().constData()
                : "-");
        if (c.name.startsWith(QLatin1String("vendrel"))) {
          rss = std::max(rss, c.rssKb / 1024.0);
          if (c.firstFrameMs >= 0) firstFrameMs = c.firstFrameMs;
        }
      }
    }
    {
      const double design = measured(together, QStringLiteral("vendrel 270x186 z3"));
      const double halfXzoom = measured(together, QStringLiteral("xzoom 270x186 z3")) / 2;
      std::printf("Bars: design size %.2f%% against half of xzoom's, %.2f%%: %s\n", design,
                  halfXzoom, verdict(design, halfXzoom));
      std::printf(
          "      (against half of xzoom's: the pointer loop %.2fx, the tick loop %.2fx, the "
          "client tick loop %.2fx)\n",
          measured(together, QStringLiteral("pointer loop")) / halfXzoom,
          measured(together, QStringLiteral("tick loop")) / halfXzoom,
          measured(together, QStringLiteral("client tick loop")) / halfXzoom);
    }
    const double maximised = measured(together, QStringLiteral("vendrel 1918x995 z1"));
    std::printf("      maximised %.2f%% under 5%%: %s\n", maximised, verdict(maximised, 5));
    std::printf("      peak RSS %.1f MB under 40 MB: %s\n", rss, verdict(rss, 40));
    std::printf("      first frame %.0f ms within 150 ms: %s\n", firstFrameMs,
                verdict(measuredIf(firstFrameMs >= 0, firstFrameMs), 150));
    reportStillScreen(runStillScreen(program, seconds), seconds);
  }

  if (!program.isEmpty()) reportFollowingRest(program, std::min(seconds, 10.0));
  if (portal && !program.isEmpty()) {
    reportWaylandRest(portalRestingWakeUps(program, std::min(seconds, 10.0)));
  }
  if (portal) {
    const double portalTick = m("tick portal 270x186 z3");
    const double clientTick = m("tick client " + designName);
    std::printf(
        "\nWayland path (through the portal stand-in): %s tick %.1f us, the client-side X11 tick "
        "%.1f us: %.2fx (bar 2x: %s)\n",
        designName.c_str(), portalTick, clientTick, portalTick / clientTick,
        verdict(portalTick / clientTick, 2));
  }

  reportGrab();

  std::printf("\n");
  for (const Case& c : Cases) {
    const std::string name = caseName(c).toStdString();
    const double floor = roundTrip + m("memcpy " + name);
    std::printf("tick/floor %dx%d z%d = %.2f\n", c.width, c.height, c.zoom,
                m("tick render " + name) / floor);
  }
  if (unmeasured) std::printf("Some bars were NOT measured: see above.\n");
  return unmeasured ? 1 : 0;
}
