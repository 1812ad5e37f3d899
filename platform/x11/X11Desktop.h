#pragma once

#include <memory>

#include "platform/Desktop.h"

// The desktop of the X display named by DISPLAY: pointer queries and root-window reads on a
// connection of its own, monitors as Qt's screens report them (RandR).
// Throws std::runtime_error when the display cannot be opened.
std::unique_ptr<Desktop> createX11Desktop();
