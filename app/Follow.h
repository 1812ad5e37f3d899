#pragma once

#include <QPoint>
#include <QSize>
#include <vector>

#include "platform/pixels/Attention.h"

// Which the view follows: the pointer, or the keyboard's last sighting. The newest to move leads.
struct Lead {
  bool keyboard = false;  // the sighting leads, until the pointer moves
  Sighting sighting;
  bool pointerKnown = false;  // `pointer` holds where it was at the last tick
  QPoint pointer;
};

// A sighting takes the lead from the pointer and from the sightings before it; whether the view
// may have to move for it (it leads anew, or its box changed).
bool takeLead(Lead& lead, const Sighting& sighting);
// A choice turned off: a sighting of that kind no longer leads.
void dropLead(Lead& lead, Sighting::Kind kind);
// The point the view centres on at a tick, for a source `half` pixels either side of it: the
// pointer where it moved since the last tick or leads, else where the sighting puts the view.
QPoint leadingPoint(Lead& lead, QPoint pointer, QSize half);

// Where the view centres for a sighting: on the text cursor's character; on a focused box that
// fits the source, else so that the source starts at its top-left corner (top-right for text
// that runs from the right).
QPoint sightingPoint(const Sighting& sighting, QSize half);
// Whether a box another program reported can be shown: one with some height, on a monitor (a
// text cursor may have no width).
bool believable(const Rect& box, const std::vector<Rect>& monitors);
