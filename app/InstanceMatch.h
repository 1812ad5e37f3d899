#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What a running copy's windows are recognised by: T1 the application title, T2 the full
// executable path, T3 the path before its first "." (none when the path has no ".", so that
// untitled windows never count).
struct InstanceTexts {
  QByteArray t1;
  QByteArray t2;
  std::optional<QByteArray> t3;
};

InstanceTexts instanceTexts(const QString& appTitle, const QString& exeName);

// A window is a running copy's when it is of class "TApplication" and titled T1, or titled T2
// or T3 whatever its class; texts compare whole, ignoring the case of ASCII letters only.
bool isRunningCopy(const QByteArray& className, const QByteArray& title, const InstanceTexts& t);
