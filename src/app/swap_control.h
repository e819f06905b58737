// SPDX-License-Identifier: MIT
// Holding the buffer swap to the display's vertical blank, where the driver offers it.
#pragma once

// Asks for one vertical blank per swap through GLX_EXT_swap_control, GLX_MESA_swap_control or
// GLX_SGI_swap_control, the first that the display's extension string offers. Needs the
// window's context current. Returns the extension used, or nullptr when none is offered (a
// virtual display offers none) or the one offered refused.
const char* request_vsync();
