#include "app/Unit1.h"

#include <QAction>
#include <QActionGroup>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>

#include "about/Aboutdialog.h"
#include "app/InstanceMatch.h"
#include "app/Magnify.h"
#include "app/Naming.h"
#include "app/Placement.h"
#include "platform/forms/Accessible.h"
#include "platform/forms/Application.h"
#include "platform/forms/Controls.h"
#include "platform/forms/MessageBox.h"
#include "platform/forms/PaintBox.h"
#include "platform/forms/Pictures.h"
#include "platform/pixels/DeviceScale.h"
#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/ViewSurface.h"
#include "platform/system/IniFile.h"
#include "platform/system/Log.h"
#include "platform/system/SafeWrite.h"
#include "settings/Winifile.h"

QString AppTitle;
QString AppExeName;
int InstanceCount = 0;

namespace {

const QColor clSkyBlue(166, 202, 240);
const QColor clBlue(0, 0, 255);
const QColor clWhite(255, 255, 255);
const QString FormFont = QStringLiteral("MS Sans Serif");

// The settings the close handler saves, kept in plain memory as they change. When the X server
// goes away (a logout that ends it before its clients, a crash), Qt's xcb plugin ends the
// program with exit(1): no handler runs and no widget can be asked any more, but these values
// and the file writer still serve.
struct LastKnown {
  QString fileName;
  int position = 3;
  QRect bounds;
  bool visible = true;
  bool followFocus = false;
  bool followCaret = false;
  bool tracking = false;  // written only where the file has it or the user chose
  bool unsaved = false;   // a window is up whose settings no close handler has saved
  ViewMode mode;
  bool modeKept = false;  // the file has the view's keys: they are written even at the defaults
};
LastKnown Last;

// The view's keys, where they say more than the defaults or the file has them already: the
// file of a user who never turns a mode on stays as it always was.
void WriteViewMode(WIniFile& ini, const LastKnown& settings) {
  if (settings.mode == ViewMode{} && !settings.modeKept) return;
  const int values[] = {static_cast<int>(settings.mode.colours), settings.mode.smooth ? 1 : 0};
  const char* keys[] = {"Colours", "Smooth"};
  for (int i = 0; i < 2; ++i)
    ini.LastResult =
        ini.WriteParam(settings.fileName, QStringLiteral("View"), QString::fromLatin1(keys[i]),
                       ptInteger, &ini.StrValue, ini.FloatValue, values[i], ini.BoolValue, false);
}

// All six values in one replacement of the file: a save killed half-way leaves the old file or
// the new one, whole.
bool WriteSettings(const LastKnown& settings) {
  WIniFile ini;
  auto write = [&](const char* section, const char* key, int value) {
    ini.LastResult =
        ini.WriteParam(settings.fileName, QString::fromLatin1(section), QString::fromLatin1(key),
                       ptInteger, &ini.StrValue, ini.FloatValue, value, ini.BoolValue, false);
  };
  ini.BeginUpdate(settings.fileName);
  write("TrackBar", "Position", settings.position);
  const QRect& b = settings.bounds;
  if (b.width() >= MinimumWindowSize &&
      b.height() >= MinimumWindowSize) {  // else none it could show
    write("MainForm", "Left", b.x());
    write("MainForm", "Top", b.y());
    write("MainForm", "Width", b.width());
    write("MainForm", "Height", b.height());
  }
  ini.LastResult =
      ini.WriteParam(settings.fileName, QStringLiteral("ScalePanel"), QStringLiteral("Visible"),
                     ptBool, &ini.StrValue, ini.FloatValue, ini.IntValue, settings.visible, false);
  WriteViewMode(ini, settings);
  if (settings.tracking) {  // a file from before the choices stays as it was
    auto flag = [&](const char* key, bool on) {
      ini.LastResult =
          ini.WriteParam(settings.fileName, QStringLiteral("Tracking"), QString::fromLatin1(key),
                         ptBool, &ini.StrValue, ini.FloatValue, ini.IntValue, on, false);
    };
    flag("Focus", settings.followFocus);
    flag("Caret", settings.followCaret);
  }
  ini.LastResult = ini.EndUpdate(false);
  return ini.LastResult;
}

// Registered once the application object exists, so it runs before the static objects made
// earlier (Qt's among them) are destroyed.
void SaveAtExit() {
  if (!Last.unsaved) return;  // closed as usual, or never shown
  Last.unsaved = false;
  qCInfo(lcSettings) << "the display has gone: saving the last known settings";
  WriteSettings(Last);
}

}  // namespace

TForm1::TForm1(Application& owner) : TForm(nullptr, Qt::WindowStaysOnTopHint), Owner(owner) {
  installAccessibleControls();
  // The window and its components, parent before children, as designed.
  setBounds({975, 39, 280, 298});
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));  // clBtnFace
  setPalette(palette);
  setFont(pixelFont(FormFont, 11));
  setWindowIcon(applicationIcon());
  setKeyPreview(true);

  Timer1 = new QTimer(this);
  Timer1->setInterval(50);

  Panel1 = makePanel(this, palette.color(QPalette::Button), Bevel::Raised);
  PaintBox1 = new PaintBox(Panel1);
  PaintBox1->setAccessibleName(QStringLiteral("Увеличенное изображение"));

  ScalePanel1 = makePanel(this, clSkyBlue, Bevel::Raised);
  ScalePanel1->setFixedHeight(83);

  PlusImage1 = new Image(ScalePanel1);
  PlusImage1->setGeometry(216, 7, 48, 48);
  PlusImage1->setPixmap(picture(QStringLiteral(":/plus.svg"), 48, 48));
  PlusImage1->setCursor(Qt::PointingHandCursor);
  PlusImage1->setToolTip(QStringLiteral("Увеличить масштаб"));

  MinusImage1 = new Image(ScalePanel1);
  MinusImage1->setGeometry(8, 7, 48, 48);
  MinusImage1->setPixmap(picture(QStringLiteral(":/minus.svg"), 48, 48));
  MinusImage1->setCursor(Qt::PointingHandCursor);
  MinusImage1->setToolTip(QStringLiteral("Уменьшить масштаб"));

  auto* trackBar = new TrackBar(Qt::Horizontal, ScalePanel1);
  trackBar->onValueText = zoomText;  // as the caption says it
  TrackBar1 = trackBar;
  TrackBar1->setAccessibleName(QStringLiteral("Масштаб"));
  TrackBar1->setGeometry(64, 18, 145, 33);
  TrackBar1->setRange(1, 10);
  TrackBar1->setSingleStep(1);
  TrackBar1->setPageStep(1);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setTickInterval(1);
  TrackBar1->setValue(3);
  TrackBar1->setFocusPolicy(Qt::ClickFocus);  // skipped by Tab

  StatusPanel1 = new QLabel(ScalePanel1);
  StatusPanel1->setGeometry(8, 62, 257, 17);
  StatusPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StatusPanel1->setLineWidth(1);
  StatusPanel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  StatusPanel1->setAutoFillBackground(true);
  QPalette status = StatusPanel1->palette();
  status.setColor(QPalette::Window, clBlue);
  status.setColor(QPalette::WindowText, clWhite);
  StatusPanel1->setPalette(status);
  StatusPanel1->setFont(pixelFont(FormFont, 11));

  PopupMenu1 = new QMenu(this);
  ScalePanelVisibleItem1 = PopupMenu1->addAction(QStringLiteral("Панель инструментов"));
  ScalePanelVisibleItem1->setCheckable(true);
  FollowFocusItem1 = PopupMenu1->addAction(QStringLiteral("Следовать за фокусом клавиатуры"));
  FollowFocusItem1->setCheckable(true);
  FollowCaretItem1 = PopupMenu1->addAction(QStringLiteral("Следовать за текстовым курсором"));
  FollowCaretItem1->setCheckable(true);
  PopupMenu1->setToolTipsVisible(true);  // a choice that cannot be made says why
  N3 = PopupMenu1->addSeparator();
  HelpItem1 = PopupMenu1->addAction(QStringLiteral("Справка..."));
  N1 = PopupMenu1->addSeparator();
  AboutItem1 = PopupMenu1->addAction(QStringLiteral("О программе..."));
  MakeViewItems();

  // Panel1 fills what ScalePanel1, docked at the bottom, leaves; the view fills Panel1
  // inside its bevel.
  auto* client = new QVBoxLayout(this);
  client->setContentsMargins(0, 0, 0, 0);
  client->setSpacing(0);
  client->setSizeConstraint(QLayout::SetNoConstraint);  // no size limits
  client->addWidget(Panel1, 1);
  client->addWidget(ScalePanel1, 0);
  auto* view = new QVBoxLayout(Panel1);  // inside the frame: the bevel is the frame's own
  view->setContentsMargins(0, 0, 0, 0);
  view->addWidget(PaintBox1);

  connect(Timer1, &QTimer::timeout, this, [this] {
    Timer1Timer();
    Pace();
  });
  PlusImage1->onMouseDown = [this](Qt::MouseButton b) { PlusImage1MouseDown(b); };
  MinusImage1->onMouseDown = [this](Qt::MouseButton b) { MinusImage1MouseDown(b); };
  connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
  connect(ScalePanelVisibleItem1, &QAction::triggered, this, [this](bool checked) {
    // The menu has already flipped the mark: put it back, the handler flips it itself.
    ScalePanelVisibleItem1->setChecked(!checked);
    ScalePanelVisibleItem1Click();
  });
  connect(FollowFocusItem1, &QAction::triggered, this, [this](bool checked) {
    FollowFocusItem1->setChecked(!checked);
    FollowFocusItem1Click();
  });
  connect(FollowCaretItem1, &QAction::triggered, this, [this](bool checked) {
    FollowCaretItem1->setChecked(!checked);
    FollowCaretItem1Click();
  });
  connect(HelpItem1, &QAction::triggered, this, [this] { HelpItem1Click(); });
  connect(AboutItem1, &QAction::triggered, this, [this] { AboutItem1Click(); });

  // Construction proper.
  IniFileName.clear();
  Version.clear();
  AppTitle = QStringLiteral("Вендрел");
  Version = QStringLiteral("1.00.060914");
  ScreenCanvas.reset();
  AppExeName = Owner.exeName();
  Owner.setTitle(AppTitle);
  setWindowTitle(AppTitle);
  // Beside the program when its folder there can be written; else the user's own (a program
  // installed for the whole system sits where only the administrator writes).
  IniFileName =
      settingsFileFor(AppExeName, Owner.canWriteIn(QFileInfo(iniFileNameFor(AppExeName)).path()),
                      Owner.configHome());
  Owner.setHelpFile(helpFileNameFor(AppExeName));
  NoPosition = -32000;
  Frozen = false;
  FrozenX = NoPosition;
  FrozenY = NoPosition;

  Timer1->start();  // ticks are only handled by the loop, after FormCreate
}

TForm1::~TForm1() {
  Owner.screen().reportTo({});  // the screen source outlives the form
  Last.unsaved = false;         // a copy the guard stopped, or one that ended before its loop
}

void TForm1::FormCreate() {
  InstanceCount = 0;
  Owner.windows().enumerate([this](WindowHandle w) { return InstanceEnumProc(w, 0); });
  Owner.screen().keepIn(
      {[this] { return ReadKept(); }, [this](const QByteArray& v) { WriteKept(v); }});
  Owner.screen().reportTo([this](const QString& trouble) {
    Trouble = trouble;
    UpdateStatus();
  });
  Owner.attention().reportTo([this](const QString& unavailable) {
    for (QAction* item : {FollowFocusItem1, FollowCaretItem1}) {
      item->setEnabled(false);
      item->setToolTip(unavailable);
    }
  });
  ScreenCanvas = Owner.createSurface();
  LoadSettings();
  UpdateStatus();
}

bool TForm1::InstanceEnumProc(WindowHandle W, std::intptr_t /*user*/) {
  const InstanceTexts texts = instanceTexts(AppTitle, AppExeName);
  if (W == 0) return false;
  TopLevelWindows& windows = Owner.windows();
  // Gone while we walked (a copy that has just ended, say): passed over, for stopping here
  // would leave the windows after it unseen, another copy's among them.
  if (windows.owningThread(W) == 0) return true;
  const QByteArray N = windows.className(W, 95);
  const QByteArray X = windows.title(W, 210);
  if (!isRunningCopy(N, X, texts)) return true;
  ++InstanceCount;
  if (InstanceCount >= 2) {
    constexpr int ShowNormal = 1;
    windows.setForeground(W);
    windows.show(W, ShowNormal);
    Owner.terminate();
  }
  return true;
}

void TForm1::FormClose() {
  SaveSettings();
  ScreenCanvas.reset();
}

void TForm1::LoadSettings() {
  WIniFile ini;
  // In the units of the window's bounds, which are those the file keeps.
  const Rect screen = toLogical(*this, Owner.screen().primaryMonitor());
  auto read = [&](const char* section, const char* key, int& value) {
    ini.LastResult =
        ini.ReadParam(IniFileName, QString::fromLatin1(section), QString::fromLatin1(key),
                      ptInteger, &ini.StrValue, &ini.FloatValue, &value, &ini.BoolValue, false);
  };

  int position = 3;
  read("TrackBar", "Position", position);
  TrackBar1->setValue(position);  // the slider keeps it within 1 to 10
  UpdateCaption();

  // A display with no monitor switched on has a screen of nothing: the window keeps the bounds
  // it has, or was given, rather than shrink to it and never show again.
  const bool fit = usableScreen(screen);
  int left = fit ? screen.right - Width() : Left();
  read("MainForm", "Left", left);
  left = screenCoordinate(left);
  if (fit) left = clampedLeft(left, screen);
  int top = Top();
  read("MainForm", "Top", top);
  top = screenCoordinate(top);
  if (fit) top = clampedTop(top, screen);
  int width = Width();
  read("MainForm", "Width", width);
  width = screenCoordinate(storedSize(width, Width()));
  if (fit) width = clampedWidth(width, screen);
  int height = Height();
  read("MainForm", "Height", height);
  height = screenCoordinate(storedSize(height, Height()));
  if (fit) height = clampedHeight(height, screen);
  setLeft(left);
  setTop(top);
  setWidth(width);
  setHeight(height);
  if (fit) {
    const QPoint onScreen = keptOnScreen(bounds(), screen);
    if (onScreen.x() != Left()) setLeft(onScreen.x());
    if (onScreen.y() != Top()) setTop(onScreen.y());
  }

  bool visible = true;
  ini.LastResult =
      ini.ReadParam(IniFileName, QStringLiteral("ScalePanel"), QStringLiteral("Visible"), ptBool,
                    &ini.StrValue, &ini.FloatValue, &ini.IntValue, &visible, false);
  ScalePanelVisibleItem1->setChecked(visible);
  ScalePanel1->setVisible(ScalePanelVisibleItem1->isChecked());  // the stored height has it
  LoadViewMode(ini);

  if (Owner.terminated()) return;  // the guard's: this copy never saves
  LoadTracking(ini);
  FollowMonitors();
  static const bool atExit = std::atexit(SaveAtExit) == 0;
  if (!atExit) qCWarning(lcSettings) << "the settings cannot be saved should the display go";
  Remember();
  Last.unsaved = true;
}

void TForm1::FollowMonitors() {
  FollowingMonitors = true;
  auto follow = [this](QScreen* s) {
    connect(s, &QScreen::geometryChanged, this, &TForm1::CheckPlacement);
  };
  for (QScreen* s : QGuiApplication::screens()) follow(s);
  connect(qApp, &QGuiApplication::screenAdded, this, [this, follow](QScreen* s) {
    follow(s);
    CheckPlacement();
  });
  connect(qApp, &QGuiApplication::screenRemoved, this, &TForm1::CheckPlacement);
  connect(qApp, &QGuiApplication::primaryScreenChanged, this, &TForm1::CheckPlacement);
}

// Queued: Qt tells of one screen at a time, and the window is placed once all are known.
void TForm1::CheckPlacement() {
  QTimer::singleShot(0, this, [this] {
    KeepOnScreen();
    Wake();
  });
}

// Qt may hear of the window's last move only after the monitors changed, so a move is checked
// too.
void TForm1::moveEvent(QMoveEvent* event) {
  TForm::moveEvent(event);
  if (FollowingMonitors) CheckPlacement();
}

void TForm1::KeepOnScreen() {
  std::vector<Rect> monitors;
  for (const Rect& m : Owner.screen().monitors()) monitors.push_back(toLogical(*this, m));
  const std::optional<QRect> moved = rescuedBounds(bounds(), monitors);
  if (!moved) return;
  qCInfo(lcApp) << "the window is on no monitor any more: moved to" << *moved;
  setBounds(*moved);
}

// What SaveSettings would write now, for the save at exit.
void TForm1::Remember() {
  Last.fileName = IniFileName;
  Last.position = TrackBar1->value();
  Last.bounds = bounds();
  Last.visible = ScalePanelVisibleItem1->isChecked();
  Last.mode = Mode;
  Last.followFocus = FollowFocusItem1->isChecked();
  Last.followCaret = FollowCaretItem1->isChecked();
  Last.tracking = TrackingKept;
}

// What the screen source keeps between runs (the user's permission to share the screen, on
// Wayland), in a section of its own.
QByteArray TForm1::ReadKept() {
  WIniFile ini;
  QByteArray value;
  ini.LastResult =
      ini.ReadParam(IniFileName, QStringLiteral("ScreenCast"), QStringLiteral("RestoreToken"),
                    ptString, &value, &ini.FloatValue, &ini.IntValue, &ini.BoolValue, false);
  return value;
}

void TForm1::WriteKept(const QByteArray& value) {
  if (value.isEmpty()) {
    ForgetKept();
    return;
  }
  MakeSettingsFolder();
  WIniFile ini;
  ini.LastResult =
      ini.WriteParam(IniFileName, QStringLiteral("ScreenCast"), QStringLiteral("RestoreToken"),
                     ptString, &value, ini.FloatValue, ini.IntValue, ini.BoolValue, false);
}

// Nothing to keep (the desktop would not take what was kept): the line goes from the file.
void TForm1::ForgetKept() {
  try {
    IniFile(IniFileName).removeKey("ScreenCast", "RestoreToken");
  } catch (const IniError& e) {
    qCWarning(lcSettings) << "The screen cast's restore token stays in" << IniFileName << e.what();
  }
}

// The settings' folder, made on the first save: beside the program only where it could be
// written when the program started, and the user's own readable by the user alone. A folder
// that cannot be made leaves the writes to fail silently, as a missing one always has.
void TForm1::MakeSettingsFolder() {
  const QString folder = QFileInfo(IniFileName).path();
  if (QFileInfo(folder).isDir()) return;
  const bool own = IniFileName != iniFileNameFor(AppExeName);
  if (own || Owner.canWriteIn(folder)) Owner.makeFolder(folder, own);
}

void TForm1::SaveSettings() {
  MakeSettingsFolder();
  Remember();
  Last.unsaved = false;  // saved here, not again at exit
  if (WriteSettings(Last)) return;
  if (SaveFailureTold) return;  // once: the program saves only as it ends
  SaveFailureTold = true;
  Owner.warnAtEnd(QStringLiteral("Не удалось сохранить настройки (масштаб, положение и размер "
                                 "окна) в файл\n%1")
                      .arg(QDir::toNativeSeparators(IniFileName)));
}

void TForm1::Timer1Timer() {
  if (Owner.minimized() || !ScreenCanvas) return;
  try {
    ScreenSource& screen = Owner.screen();
    // In device pixels, as the pointer and the screen are: at zoom Z each screen pixel is a
    // Z x Z block of the view's device pixels, whatever the desktop's scale.
    const QSize view = PaintBox1->deviceSize();
    const int w = view.width();
    const int h = view.height();
    const int zoom = TrackBar1->value();
    const QPoint led = leadingPoint(Keyboard, screen.pointer(), {(w / zoom) / 2, (h / zoom) / 2});
    QPoint frozenPoint(FrozenX, FrozenY);
    const QPoint p = trackedPoint(Frozen, frozenPoint, led, NoPosition);
    FrozenX = frozenPoint.x();
    FrozenY = frozenPoint.y();

    const Rect window = toDevice(*this, bounds());  // the outer frame: Left, Top, Width, Height
    if (window.contains(p.x(), p.y())) {
      // Over its own window the magnifier would only magnify itself.
      PaintBox1->fill(palette().color(QPalette::Button));
      return;
    }
    SurfaceBinding bound(*ScreenCanvas);
    const Rect source = sourceRect(p, w, h, zoom, clampArea(p, screen.monitors()));
    ScreenCanvas->enlarge(screen, source, *PaintBox1, {0, 0, w, h}, Mode);
  } catch (const std::exception& e) {
    // A tick that fails draws nothing more; the next one starts afresh.
    if (TickFailures.pass())
      qCWarning(lcApp) << "a tick failed:" << e.what() << TickFailures.note();
  } catch (...) {
    // Not a failure the tick knows: the loop shows it as any handler's. The ticks stop, or a
    // box would open for each one.
    qCCritical(lcApp) << "a tick failed with an unknown exception; the view stops";
    Timer1->stop();
    throw;
  }
}

// A tick that finds the desktop as it was stops the timer, and the desktop's next change (the
// pointer moving, anything drawn on the screen), or anything done to the window, starts it
// again with a tick at once: the view follows as closely as ever, and a still screen costs
// next to nothing. Where the desktop cannot report its changes the timer never stops.
void TForm1::Pace() {
  ScreenSource& screen = Owner.screen();
  if (Resting || !screen.reportsChanges() || screen.changed()) return;
  Resting = true;
  Timer1->stop();
  screen.watch([this] { Wake(); });
}

void TForm1::Wake() {
  if (!Resting) return;
  Resting = false;
  Owner.screen().watch({});
  Timer1->start();
  QTimer::singleShot(0, this, [this] {
    Timer1Timer();
    Pace();
  });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    // What the user does to the program, and what happens to its window, may change the view:
    // the zoom, the freeze mode, the window's place, size and state.
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::Wheel:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::WindowStateChange:
      Wake();
      if (watched == this) Remember();
      break;
    default:
      break;
  }
  // Key preview puts the form's filter on the whole program: it sees every event here.
  return TForm::eventFilter(watched, event);
}

void TForm1::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
  if (!isFreezeKey(key, shift.testFlag(Qt::ControlModifier))) return;
  Frozen = !Frozen;
  if (!Frozen) {
    FrozenX = NoPosition;
    FrozenY = NoPosition;
  }
  UpdateStatus();
}

void TForm1::UpdateStatus() {
  StatusPanel1->setText(Trouble.isEmpty() ? statusText(Frozen) : QLatin1Char(' ') + Trouble);
  StatusPanel1->setToolTip(Trouble);
  // A screen reader hears from the view whether it follows the pointer or stands still.
  PaintBox1->setAccessibleDescription(statusText(Frozen).trimmed());
}

void TForm1::UpdateCaption() {
  setWindowTitle(captionText(AppTitle, TrackBar1->value()));
}

void TForm1::PlusImage1MouseDown(Qt::MouseButton) {
  TrackBar1->setValue(TrackBar1->value() + 1);
}

void TForm1::MinusImage1MouseDown(Qt::MouseButton) {
  TrackBar1->setValue(TrackBar1->value() - 1);
}

void TForm1::TrackBar1Change() {
  UpdateCaption();
  Remember();
  Wake();  // a zoom set with no mouse or key (a screen reader's action) changes the view too
}

void TForm1::ScalePanelVisibleItem1Click() {
  ScalePanelVisibleItem1->setChecked(!ScalePanelVisibleItem1->isChecked());
  const bool shown = ScalePanelVisibleItem1->isChecked();
  ScalePanel1->setVisible(shown);
  setHeight(shown ? Height() + ScalePanel1->height() : Height() - ScalePanel1->height());
  Remember();
}

void TForm1::FollowFocusItem1Click() {
  ToggleFollowing(FollowFocusItem1, Sighting::Focus);
}

void TForm1::FollowCaretItem1Click() {
  ToggleFollowing(FollowCaretItem1, Sighting::Caret);
}

void TForm1::ToggleFollowing(QAction* item, Sighting::Kind kind) {
  item->setChecked(!item->isChecked());
  if (!item->isChecked()) dropLead(Keyboard, kind);
  TrackingKept = true;
  FollowKeyboard();
}

void TForm1::LoadTracking(WIniFile& ini) {
  auto read = [&](const char* key, QAction* item) {
    bool on = false;  // any number but 0 is on, as for the panel
    ini.LastResult =
        ini.ReadParam(IniFileName, QStringLiteral("Tracking"), QString::fromLatin1(key), ptBool,
                      &ini.StrValue, &ini.FloatValue, &ini.IntValue, &on, false);
    TrackingKept |= ini.LastResult;
    item->setChecked(on);
  };
  read("Focus", FollowFocusItem1);
  read("Caret", FollowCaretItem1);
  FollowKeyboard();
}

void TForm1::FollowKeyboard() {
  Owner.attention().follow(FollowFocusItem1->isChecked(), FollowCaretItem1->isChecked(),
                           [this](const Sighting& s) { KeyboardSeen(s); });
  Remember();
  Wake();
}

// A sighting wakes the ticks only when the view has to move for it: a still desktop rests.
void TForm1::KeyboardSeen(const Sighting& sighting) {
  if (!believable(sighting.box, Owner.screen().monitors())) {
    qCInfo(lcApp) << "a box off every monitor is not followed";
    return;
  }
  if (takeLead(Keyboard, sighting)) Wake();
}

void TForm1::HelpItem1Click() {
  constexpr int HelpContents = 3;
  Owner.helpCommand(HelpContents, 0);
}

void TForm1::AboutItem1Click() {
  TAboutDialog1 dialog(this, Owner);  // lives only while it is shown
  dialog.VersionLabel1->setText(versionCaption(Version));
  dialog.ShowModal();
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) {
  PopupMenu1->popup(event->globalPos());
}

void TForm1::showEvent(QShowEvent* event) {
  TForm::showEvent(event);
  // The first picture as soon as the window is up, not a timer interval later.
  QTimer::singleShot(0, this, [this] { Timer1Timer(); });
}

// ---- The view's colours and smoothing, and its picture copied and saved ----------------------

// The menu's items, before the help; the keys work wherever the focus is in the window.
void TForm1::MakeViewItems() {
  ColoursMenu1 = new QMenu(QStringLiteral("Цвета"), this);
  auto* group = new QActionGroup(this);
  const QString names[] = {QStringLiteral("Обычные"), QStringLiteral("Обращённые\tCtrl+I"),
                           QStringLiteral("Оттенки серого"),
                           QStringLiteral("Обращённые оттенки серого\tCtrl+I")};
  for (std::size_t i = 0; i < ColourItems.size(); ++i) {
    ColourItems[i] = group->addAction(names[i]);
    ColourItems[i]->setCheckable(true);
    ColoursMenu1->addAction(ColourItems[i]);
    connect(ColourItems[i], &QAction::triggered, this,
            [this, i] { ColourItemClick(static_cast<Colours>(i)); });
  }
  ColourItems[0]->setChecked(true);
  SmoothItem1 = new QAction(QStringLiteral("Сглаживание"), this);
  SmoothItem1->setCheckable(true);
  // Spelled out: the platform's standard Copy has Ctrl+Insert too, which freezes the view.
  CopyItem1 = new QAction(QStringLiteral("Копировать изображение"), this);
  CopyItem1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  SaveItem1 = new QAction(QStringLiteral("Сохранить изображение…"), this);
  SaveItem1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  InvertKey1 = new QAction(this);
  InvertKey1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
  addActions({CopyItem1, SaveItem1, InvertKey1});
  PopupMenu1->insertSeparator(N3);
  PopupMenu1->insertMenu(N3, ColoursMenu1);
  PopupMenu1->insertActions(N3, {SmoothItem1, CopyItem1, SaveItem1});
  connect(SmoothItem1, &QAction::triggered, this, [this] { SmoothItem1Click(); });
  connect(CopyItem1, &QAction::triggered, this, [this] { CopyItem1Click(); });
  connect(SaveItem1, &QAction::triggered, this, [this] { SaveItem1Click(); });
  connect(InvertKey1, &QAction::triggered, this, [this] { InvertKey1Click(); });
}

// [View] Colours (0 to 3) and Smooth (0 or 1): any other value is the default.
void TForm1::LoadViewMode(WIniFile& ini) {
  int values[] = {0, 0};
  const char* keys[] = {"Colours", "Smooth"};
  bool kept = false;
  for (int i = 0; i < 2; ++i)
    kept |=
        ini.ReadParam(IniFileName, QStringLiteral("View"), QString::fromLatin1(keys[i]), ptInteger,
                      &ini.StrValue, &ini.FloatValue, &values[i], &ini.BoolValue, false);
  ViewMode mode;
  if (values[0] >= 0 && values[0] < static_cast<int>(ColourItems.size()))
    mode.colours = static_cast<Colours>(values[0]);
  mode.smooth = values[1] == 1;
  Last.modeKept = kept;
  SetViewMode(mode);
}

void TForm1::SetViewMode(const ViewMode& mode) {
  Mode = mode;
  ColourItems[static_cast<std::size_t>(mode.colours)]->setChecked(true);
  SmoothItem1->setChecked(mode.smooth);
  Remember();
  Wake();  // a still screen is drawn again, in the new mode
}

void TForm1::ColourItemClick(Colours colours) {
  SetViewMode({colours, Mode.smooth});
}

void TForm1::InvertKey1Click() {
  SetViewMode({inversionOf(Mode.colours), Mode.smooth});
}

void TForm1::SmoothItem1Click() {
  SetViewMode({Mode.colours, !Mode.smooth});
}

// The view's picture as it is shown; a null image when there is none, or it cannot be read
// back (the user told).
QImage TForm1::ViewPicture() {
  try {
    return PaintBox1->picture();
  } catch (const std::runtime_error& e) {
    qCWarning(lcApp) << "the view's picture cannot be read back:" << e.what();
    warningBox(QStringLiteral("Не удалось получить изображение лупы: нет связи с экраном."),
               AppTitle);
    return {};
  }
}

void TForm1::CopyItem1Click() {
  const QImage picture = ViewPicture();
  if (picture.isNull()) return;  // nothing was shown yet
  QGuiApplication::clipboard()->setImage(picture);
}

void TForm1::SaveItem1Click() {
  const QImage picture = ViewPicture();  // as it is now, not once the dialog closes
  if (picture.isNull()) return;
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить изображение"),
                                              QDir(folder).filePath(QStringLiteral("Вендрел.png")),
                                              QStringLiteral("Изображения PNG (*.png)"));
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".png");
  QByteArray png;
  QBuffer buffer(&png);
  try {
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
      throw WriteError("the picture cannot be made a PNG");
    replaceFile(path, png);  // a file there already stays whole should the save fail
  } catch (const WriteError& e) {
    qCWarning(lcApp) << "cannot save the view's picture to" << path << ":" << e.what();
    warningBox(QStringLiteral("Не удалось сохранить изображение в файл\n%1")
                   .arg(QDir::toNativeSeparators(path)),
               AppTitle);
  }
}
