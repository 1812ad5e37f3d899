#pragma once

#include <QString>

// The settings file: "Vendrel/Vendrel.ini" in the executable's folder.
QString iniFileNameFor(const QString& exePath);

// Where the settings are kept: beside the executable, whenever its "Vendrel" folder there can
// be written (or made); else in the user's own configuration folder ($XDG_CONFIG_HOME, or
// ~/.config), when there is one.
QString settingsFileFor(const QString& exePath, bool besideWritable, const QString& configHome);

// The help file: the executable's name with its last extension replaced by ".hlp" (or ".hlp"
// appended when it has none), in the "Vendrel" folder beside the executable.
QString helpFileNameFor(const QString& exePath);

// "x3".
QString zoomText(int zoom);

// "Вендрел (x3)".
QString captionText(const QString& title, int zoom);

// The status strip's text for the freeze mode.
QString statusText(bool frozen);
