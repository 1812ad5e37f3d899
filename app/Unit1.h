#pragma once

#include <QPoint>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "app/Follow.h"
#include "platform/forms/Form.h"
#include "platform/pixels/ViewMode.h"
#include "platform/system/Log.h"
#include "platform/system/TopLevelWindows.h"

class Application;
class WIniFile;
class Image;
class QImage;
class PaintBox;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QSlider;
class QTimer;
class ViewSurface;

extern QString AppTitle;
extern QString AppExeName;
extern int InstanceCount;

// The magnifier's main window.
class TForm1 : public TForm {
 public:
  explicit TForm1(Application& owner);
  ~TForm1() override;

  QTimer* Timer1;
  QFrame* Panel1;
  QFrame* ScalePanel1;
  Image* PlusImage1;
  QSlider* TrackBar1;
  Image* MinusImage1;
  QMenu* PopupMenu1;
  QAction* AboutItem1;
  QAction* N1;
  QAction* ScalePanelVisibleItem1;
  QAction* FollowFocusItem1;
  QAction* FollowCaretItem1;
  QAction* HelpItem1;
  QAction* N3;
  QLabel* StatusPanel1;
  PaintBox* PaintBox1;

  // How the view shows the screen, and what can be done with its picture.
  QMenu* ColoursMenu1;
  std::array<QAction*, 4> ColourItems;  // in the order of Colours
  QAction* SmoothItem1;
  QAction* CopyItem1;
  QAction* SaveItem1;
  QAction* InvertKey1;  // Ctrl+I, which no menu item holds

  void FormCreate() override;
  bool InstanceEnumProc(WindowHandle W, std::intptr_t user);
  void Timer1Timer();
  void UpdateStatus();
  void UpdateCaption();
  void PlusImage1MouseDown(Qt::MouseButton button);
  void MinusImage1MouseDown(Qt::MouseButton button);
  void TrackBar1Change();
  void ScalePanelVisibleItem1Click();
  void FollowFocusItem1Click();
  void FollowCaretItem1Click();
  void HelpItem1Click();
  void AboutItem1Click();
  void ColourItemClick(Colours colours);
  void InvertKey1Click();
  void SmoothItem1Click();
  void CopyItem1Click();
  void SaveItem1Click();

  const QString& iniFileName() const { return IniFileName; }
  const QString& version() const { return Version; }
  bool frozen() const { return Frozen; }
  bool resting() const { return Resting; }
  QPoint frozenPoint() const { return {FrozenX, FrozenY}; }
  const ViewMode& viewMode() const { return Mode; }

 protected:
  void FormKeyDown(int key, Qt::KeyboardModifiers shift) override;
  void FormClose() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadSettings();
  void SaveSettings();
  void MakeSettingsFolder();
  void Remember();
  QByteArray ReadKept();
  void WriteKept(const QByteArray& value);
  void ForgetKept();
  // The monitors changing, or a program moving the window, may leave it on none of them: it is
  // brought back.
  void FollowMonitors();
  void CheckPlacement();
  void KeepOnScreen();
  // Ticks rest while nothing changes, and wake when anything may have.
  void Pace();
  void Wake();
  void MakeViewItems();
  void LoadViewMode(WIniFile& ini);
  void SetViewMode(const ViewMode& mode);
  QImage ViewPicture();
  // The view follows the other programs' keyboard focus and text cursor, as the items say.
  void LoadTracking(WIniFile& ini);
  void ToggleFollowing(QAction* item, Sighting::Kind kind);
  void FollowKeyboard();
  void KeyboardSeen(const Sighting& sighting);

  Application& Owner;
  QString IniFileName;
  QString Version;
  int NoPosition = -32000;
  std::unique_ptr<ViewSurface> ScreenCanvas;
  bool Frozen = false;
  bool FollowingMonitors = false;  // the window is kept where a monitor shows it
  int FrozenX = -32000;
  int FrozenY = -32000;
  bool Resting = false;       // the timer stopped while the desktop is still
  QString Trouble;            // why the view cannot follow the pointer, while it cannot
  Lead Keyboard;              // whether the pointer or the keyboard leads the view
  bool TrackingKept = false;  // the file has the choices, or the user made them
  bool SaveFailureTold = false;
  WarningGate TickFailures;  // a tick failing twenty times a second is told once in a while
  ViewMode Mode;
};
