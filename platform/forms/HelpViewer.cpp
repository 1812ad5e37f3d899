#include "platform/forms/HelpViewer.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>

HelpViewer::HelpViewer() = default;
HelpViewer::~HelpViewer() = default;

void HelpViewer::showContents(const QString& file, const QString& title) {
  const QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) {
    QMessageBox::warning(QApplication::activeWindow(), title,
                         QStringLiteral("Файл справки не найден:\n%1").arg(file));
    return;
  }
  if (!window_) {
    window_ = std::make_unique<QTextBrowser>();
    window_->setOpenExternalLinks(true);
    window_->resize(560, 480);
  }
  window_->setWindowTitle(QStringLiteral("Справка — %1").arg(title));
  window_->setSource(QUrl::fromLocalFile(info.absoluteFilePath()), QTextDocument::HtmlResource);
  window_->home();
  window_->show();
  window_->raise();
  window_->activateWindow();
}
