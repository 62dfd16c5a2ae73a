#pragma once

namespace lf {

// Whether the windowing system blends translucent windows with what is under them. Without a
// compositing manager (a bare X11 session) transparent pixels of a window show black, so shaped
// windows cut themselves out with a mask instead.
bool windowsAreComposited();

} // namespace lf
