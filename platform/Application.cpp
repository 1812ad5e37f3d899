#include "platform/Application.h"

#include <QApplication>
#include <QMessageBox>
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
  if (!terminated_ && mainForm_->isVisible()) mainForm_->close();
  return code;
}

void Application::closeMainForm() {
  if (!mainForm_ || !running_) return;
  mainForm_->close();
  QCoreApplication::exit(0);  // every loop, a modal dialog's too
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
