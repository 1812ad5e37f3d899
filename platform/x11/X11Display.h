#pragma once

#include <memory>

class ScreenSource;
class ViewSurface;

// One connection to the X display named by DISPLAY, which the sources and surfaces made on it
// share. Throws std::runtime_error when the display cannot be opened, and when its screen shows
// fewer colours than the magnifier needs (with a text for the user).
class X11Display;
std::shared_ptr<X11Display> openX11Display();

// Waits until the display has carried out everything asked of it so far.
void sync(X11Display& display);

// The X root window as a screen source: pointer queries and root-window reads on the display's
// connection, monitors as Qt's screens report them (RandR). With `followChanges`, it asks the
// server to report pointer motion and drawing on the screen, so that a still desktop costs
// nothing.
std::unique_ptr<ScreenSource> createX11Source(std::shared_ptr<X11Display> display,
                                              bool followChanges = true);

// How a surface enlarges.
enum class Drawing {
  Fastest,     // on the X server with RENDER, where it has it and holds the pixels
  ClientSide,  // always on this side (the path for servers without RENDER, and for pixels that
               // come from elsewhere)
};

// Draws into a view that is an X window of `display`: with RENDER from the pixels the server
// holds, or through shared memory (else plain requests) from pixels in memory.
std::unique_ptr<ViewSurface> createX11Surface(std::shared_ptr<X11Display> display,
                                              Drawing drawing = Drawing::Fastest);

// Throws std::runtime_error, in words for the user, when no X display can be opened: Qt's xcb
// platform would abort instead.
void requireX11Display();

// Sets Qt up before the QApplication is made: on its xcb platform (through XWayland on a Wayland
// desktop), in physical pixels. The tests and the bench run this way, and so does the program
// on a Wayland desktop, where the compositor shows X windows at the monitor's scale itself.
void useXcbInPhysicalPixels();

// As above, but the window, its texts and pictures follow the desktop's scale as in any Qt
// program: the program on an X11 desktop.
void useXcbAtTheDesktopScale();
