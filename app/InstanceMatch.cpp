#include "app/InstanceMatch.h"

#include "platform/system/Ascii.h"

InstanceTexts instanceTexts(const QString& appTitle, const QString& exeName) {
  InstanceTexts t{appTitle.toUtf8(), exeName.toUtf8(), std::nullopt};
  const qsizetype dot = t.t2.indexOf('.');
  if (dot >= 0) t.t3 = t.t2.left(dot);
  return t;
}

bool isRunningCopy(const QByteArray& className, const QByteArray& title, const InstanceTexts& t) {
  return (sameIgnoringAsciiCase(title, t.t1) &&
          sameIgnoringAsciiCase(className, QByteArrayLiteral("TApplication"))) ||
         sameIgnoringAsciiCase(title, t.t2) || (t.t3 && sameIgnoringAsciiCase(title, *t.t3));
}
