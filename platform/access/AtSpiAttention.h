#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

#include "platform/pixels/Attention.h"

// The keyboard focus and the text cursor as the desktop's accessibility bus (AT-SPI) tells
// them, through Qt's D-Bus client: every question asynchronous, with a short deadline.
// `trusted` says whether a process (by its id) reports its boxes in desktop coordinates; the
// program's own process is never followed.
std::unique_ptr<Attention> createAtSpiAttention(std::function<bool(qint64 pid)> trusted);
