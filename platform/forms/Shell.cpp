#include "platform/forms/Shell.h"

#include <QProcess>

void XdgShell::open(QWidget* /*owner*/, const QString& target) {
  QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}
