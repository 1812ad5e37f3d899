#pragma once

#include <memory>

class Application;

// The application object, with the display system the session calls for: the X11 desktop, or in
// a Wayland session the desktop portal's screen cast, shown on an X window through XWayland.
// Throws std::runtime_error when neither can serve; where Qt can already paint, the user has
// been told why.
std::unique_ptr<Application> createApplication(int& argc, char** argv);
