#pragma once

#include <QImage>
#include <QString>

#include "platform/pixels/Rect.h"
#include "platform/pixels/ViewMode.h"

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

// Checks a crisp view in `colours` over `desktop`: every view pixel the mode's colour of the
// source pixel under its centre (Match::Exact's positions); an empty text when it holds.
QString checkColours(const QImage& view, const QImage& desktop, const Rect& source,
                     Colours colours);

// Checks a smooth view over `desktop`: every view pixel, channel by channel, between the source
// pixels around its centre taken to the source, and some of them mixes of those pixels.
QString checkSmooth(const QImage& view, const QImage& desktop, const Rect& source);
