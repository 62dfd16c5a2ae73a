#include "toolkit/Compositing.h"

#include <QGuiApplication>

#if defined(LF_HAVE_XCB)
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#endif

namespace lf {

bool windowsAreComposited() {
#if defined(LF_HAVE_XCB)
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return true;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return true;
    // A compositing manager owns the selection _NET_WM_CM_S<screen number>.
    int screen = 0;
    if (const char *display = std::getenv("DISPLAY")) {
        const std::string d(display);
        const auto dot = d.rfind('.');
        if (dot != std::string::npos && d.find(':') < dot)
            screen = std::atoi(d.c_str() + dot + 1);
    }
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    xcb_connection_t *c = x11->connection();
    xcb_intern_atom_reply_t *atom
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(name.size()), name.c_str()), nullptr);
    if (!atom)
        return true;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t *owner
        = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool composited = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return composited;
#else
    return true;
#endif
}

} // namespace lf
