#pragma once

#include <cstdint>

namespace ombrix {

// Posts a registered message to every program of the calling session, with this process's id
// as wParam and `lParam` (a drive letter or an image index).
int broadcastMessage(const char* name, int64_t lParam);

}  // namespace ombrix
