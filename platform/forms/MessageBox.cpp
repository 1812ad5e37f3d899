#include "platform/forms/MessageBox.h"

#include <QMessageBox>

void warningBox(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}
