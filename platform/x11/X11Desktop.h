#pragma once

#include <memory>

#include "platform/Desktop.h"

// How the desktop's canvases enlarge.
enum class Drawing {
  Fastest,     // on the X server with RENDER where it has it, else on this side
  ClientSide,  // always on this side (the path for servers without RENDER)
};

// The desktop of the X display named by DISPLAY: pointer queries and root-window reads on a
// connection of their own, monitors as Qt's screens report them (RandR).
// With `followChanges`, it asks the server to report pointer motion and drawing on the screen
// (off for a desktop whose pixels come from elsewhere, which would never read the reports).
// Throws std::runtime_error when the display cannot be opened.
std::unique_ptr<Desktop> createX11Desktop(Drawing drawing = Drawing::Fastest,
                                          bool followChanges = true);

class PixelSource;

// A canvas on the display of `x11` (a desktop createX11Desktop() made) that enlarges the pixels
// `source` holds, a screen cast's frames say, and puts them on the view the client-side way.
std::unique_ptr<ScreenCanvas> createX11CanvasOver(Desktop& x11, PixelSource& source);

// Sets Qt up before the QApplication is made: on its xcb platform (through XWayland on a Wayland
// desktop), in physical pixels. The tests and the bench run this way, and so does the program
// on a Wayland desktop, where the compositor shows X windows at the monitor's scale itself.
void useXcbInPhysicalPixels();

// As above, but the window, its texts and pictures follow the desktop's scale as in any Qt
// program: the program on an X11 desktop.
void useXcbAtTheDesktopScale();
