#pragma once

#include <QImage>
#include <QString>

#include "platform/pixels/Rect.h"

// How closely a view must follow the reference enlargement (each view pixel the source pixel
// under its centre).
enum class Match {
  Exact,    // pixel for pixel
  Nearest,  // the server's fixed-point sampling: each view pixel one source pixel, rows and
            // columns in order, the whole source shown edge to edge, none more than one off
};

// Checks a view grabbed over a uniquePixelPicture() desktop of `screenWidth` against the
// enlargement of `source`; an empty text when it matches, else the first difference.
QString checkEnlargement(const QImage& view, const Rect& source, int screenWidth, Match match);
