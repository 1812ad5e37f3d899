#pragma once

#include <QString>
#include <functional>

#include "platform/pixels/Rect.h"

// Where another program's keyboard is: the box of the object that took the focus, or of the
// character at its text cursor, in device pixels of the desktop.
struct Sighting {
  enum Kind { Focus, Caret };
  Kind kind = Focus;
  Rect box;
  bool rightToLeft = false;  // the object's text runs from the right
  friend bool operator==(const Sighting&, const Sighting&) = default;
};

// The keyboard focus and the text cursor of the other programs on the desktop. Never waits on
// them: what they tell arrives from the event loop, and one that does not answer is skipped.
class Attention {
 public:
  virtual ~Attention() = default;
  // Listens for the kinds asked for, and for nothing when neither is; `seen` is called from the
  // event loop with each sighting of a kind asked for, newest last.
  virtual void follow(bool focus, bool caret, std::function<void(const Sighting&)> seen) = 0;
  // Where to tell the user, in a few words, why nothing can be followed on this desktop; called
  // once, from the event loop, when that is known.
  virtual void reportTo(std::function<void(const QString&)> /*unavailable*/) {}
};
