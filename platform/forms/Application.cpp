#include "platform/forms/Application.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

Application::~Application() = default;

void Application::releaseForms() {
  mainForm_ = nullptr;
  while (!forms_.empty()) forms_.pop_back();  // the main window last, as it was made first
}

int Application::run() {
  if (terminated_ || !mainForm_) return 0;
  mainForm_->show();
  mainForm_->activateWindow();  // a program just started has the keyboard, with or without a WM
  running_ = true;
  const int code = QApplication::exec();
  running_ = false;
  if (!terminated_ && mainForm_->isVisible()) {
    asked_ = true;
    mainForm_->close();
  }
  return code;
}

void Application::closeMainForm() {
  if (!mainForm_ || !running_) return;
  asked_ = true;
  mainForm_->close();
  QCoreApplication::exit(0);  // every loop, a modal dialog's too
}

void Application::quitAsked() {
  if (running_) {
    closeMainForm();
    return;
  }
  terminate();
  // Ends every loop running now, a message box's among them, and makes any started before the
  // main loop return at once.
  QCoreApplication::exit(0);
}

void Application::terminate() {
  terminated_ = true;
  if (running_) QCoreApplication::exit(0);
}

void Application::bringForward() {
  if (!mainForm_ || !running_) return;
  if (mainForm_->isMinimized())
    mainForm_->showNormal();
  else
    mainForm_->show();
  mainForm_->raise();
  mainForm_->activateWindow();
}

bool Application::minimized() const {
  return mainForm_ && mainForm_->isMinimized();
}

void Application::warnAtEnd(const QString& text) const {
  // Asked to end by a signal or the session manager, a logout perhaps, the user may never see
  // a box, and it would only hold the ending up: the log has it.
  if (!qApp || asked_) return;
  constexpr int ClosesAfterMs = 30'000;
  QMessageBox box(QMessageBox::Warning, title_, text, QMessageBox::Ok);
  QTimer::singleShot(ClosesAfterMs, &box, &QMessageBox::accept);
  box.exec();  // a quit request (QuitSignals) ends every loop, this one included
}

void Application::showException(const QString& message) const {
  if (!qApp) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    return;
  }
  QMessageBox box(QMessageBox::Critical,
                  title_.isEmpty() ? QGuiApplication::applicationDisplayName() : title_, message,
                  QMessageBox::Ok);
  box.exec();
}

QString Application::configHome() const {
  const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return QDir::cleanPath(xdg);
  const QString home = qEnvironmentVariable("HOME");
  if (home.isEmpty() || !QDir::isAbsolutePath(home) || !QFileInfo(home).isDir())
    return {};  // a home is never made here
  return QDir::cleanPath(home) + QStringLiteral("/.config");
}

bool Application::canWriteIn(const QString& folder) const {
  // A missing folder can be made where the folder above it can be written.
  const QFileInfo info(folder);
  const QFileInfo probe = info.exists() ? info : QFileInfo(info.absolutePath());
  return probe.isDir() &&
         ::access(QFile::encodeName(probe.absoluteFilePath()).constData(), W_OK | X_OK) == 0;
}

bool Application::makeFolder(const QString& folder, bool privateToUser) const {
  // From the top down, each missing folder made with the right mode from the start: never a
  // moment when another user could look in.
  const QString clean = QDir::cleanPath(folder);
  const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  QString path;
  for (const QString& part : parts) {
    path += QLatin1Char('/') + part;
    if (QFileInfo(path).isDir()) continue;
    if (::mkdir(QFile::encodeName(path).constData(), privateToUser ? 0700 : 0777) != 0)
      return false;
  }
  return QFileInfo(clean).isDir();
}
