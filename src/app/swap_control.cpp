// SPDX-License-Identifier: MIT
#include "swap_control.h"

#include <GL/glx.h>
#include <GL/glxext.h>

#include <string_view>

namespace {

// Whole names in the space-separated extension string, not prefixes of longer ones.
bool offers(const char* extensions, std::string_view name) {
    std::string_view rest = extensions != nullptr ? extensions : "";
    while (!rest.empty()) {
        const std::size_t space = rest.find(' ');
        if (rest.substr(0, space) == name) {
            return true;
        }
        rest.remove_prefix(space == std::string_view::npos ? rest.size() : space + 1);
    }
    return false;
}

template <typename Function>
Function look_up(const char* name) {
    return reinterpret_cast<Function>(glXGetProcAddress(reinterpret_cast<const GLubyte*>(name)));
}

}  // namespace

const char* request_vsync() {
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable drawable = glXGetCurrentDrawable();
    if (display == nullptr || drawable == None) {
        return nullptr;
    }
    const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    if (offers(extensions, "GLX_EXT_swap_control")) {
        if (const auto swap_interval = look_up<PFNGLXSWAPINTERVALEXTPROC>("glXSwapIntervalEXT")) {
            // Reports failure only through an X error; the setting read back says whether it
            // took.
            swap_interval(display, drawable, 1);
            unsigned int interval = 0;
            glXQueryDrawable(display, drawable, GLX_SWAP_INTERVAL_EXT, &interval);
            if (interval == 1) {
                return "GLX_EXT_swap_control";
            }
        }
    }
    if (offers(extensions, "GLX_MESA_swap_control")) {
        if (const auto swap_interval = look_up<PFNGLXSWAPINTERVALMESAPROC>("glXSwapIntervalMESA");
            swap_interval != nullptr && swap_interval(1) == 0) {
            return "GLX_MESA_swap_control";
        }
    }
    if (offers(extensions, "GLX_SGI_swap_control")) {
        if (const auto swap_interval = look_up<PFNGLXSWAPINTERVALSGIPROC>("glXSwapIntervalSGI");
            swap_interval != nullptr && swap_interval(1) == 0) {
            return "GLX_SGI_swap_control";
        }
    }
    return nullptr;
}
