#pragma once

#include "host/services/screen_preview/screen_capture.hpp"

namespace glidemate::host {

// Draws the frame's cursor into its pixels with the hot spot on the
// pointer, blending by the cursor's alpha; the part outside the frame is
// left out. Does nothing without a cursor or a pointer.
void drawCursor(const CapturedFrame& frame);

}  // namespace glidemate::host
