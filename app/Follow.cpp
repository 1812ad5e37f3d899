#include "app/Follow.h"

bool takeLead(Lead& lead, const Sighting& sighting) {
  if (lead.keyboard && lead.sighting == sighting) return false;
  lead.keyboard = true;
  lead.sighting = sighting;
  // The pointer leads again only when it moves after the sighting: where it stands now is
  // taken at the next tick.
  lead.pointerKnown = false;
  return true;
}

void dropLead(Lead& lead, Sighting::Kind kind) {
  if (lead.sighting.kind == kind) lead.keyboard = false;
}

QPoint leadingPoint(Lead& lead, QPoint pointer, QSize half) {
  if (lead.pointerKnown && pointer != lead.pointer) lead.keyboard = false;
  lead.pointer = pointer;
  lead.pointerKnown = true;
  return lead.keyboard ? sightingPoint(lead.sighting, half) : pointer;
}

QPoint sightingPoint(const Sighting& sighting, QSize half) {
  const Rect& b = sighting.box;
  const QPoint centre((b.left + b.right) / 2, (b.top + b.bottom) / 2);
  if (sighting.kind == Sighting::Caret) return centre;
  if (b.width() <= 2 * half.width() && b.height() <= 2 * half.height()) return centre;
  const int x = sighting.rightToLeft ? b.right - half.width() : b.left + half.width();
  return {x, b.top + half.height()};
}

bool believable(const Rect& box, const std::vector<Rect>& monitors) {
  const Rect seen{box.left, box.top, box.right + 1, box.bottom};  // a text cursor has no width
  for (const Rect& m : monitors)
    if (!m.intersected(seen).isEmpty()) return true;
  return false;
}
