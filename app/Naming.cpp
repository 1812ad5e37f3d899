#include "app/Naming.h"

namespace {

// The folder part of a path, with its trailing separator.
QString folderOf(const QString& path) {
  return path.left(path.lastIndexOf(u'/') + 1);
}

}  // namespace

QString iniFileNameFor(const QString& exePath) {
  return folderOf(exePath) + QStringLiteral("Vendrel/Vendrel.ini");
}

QString settingsFileFor(const QString& exePath, bool besideWritable, const QString& configHome) {
  if (besideWritable || configHome.isEmpty()) return iniFileNameFor(exePath);
  return configHome + QStringLiteral("/Vendrel/Vendrel.ini");
}

QString helpFileNameFor(const QString& exePath) {
  const QString folder = folderOf(exePath);
  QString name = exePath.mid(folder.size());
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  return folder + QStringLiteral("Vendrel/") + name + QStringLiteral(".hlp");
}

QString zoomText(int zoom) {
  return u'x' + QString::number(zoom);
}

QString captionText(const QString& title, int zoom) {
  return title + QStringLiteral(" (") + zoomText(zoom) + u')';
}

QString statusText(bool frozen) {
  return frozen ? QStringLiteral(" Режим \"Заморозка\"") : QStringLiteral(" Режим \"Скольжение\"");
}
