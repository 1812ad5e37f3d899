#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Renders a compiled-in SVG picture at a size in physical pixels.
QPixmap picture(const QString& resource, int width, int height);

// The magnifying-glass icon at 16, 32 and 48 pixels.
QIcon applicationIcon();
