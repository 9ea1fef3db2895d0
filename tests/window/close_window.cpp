// Asks a window to close as a window manager's close button does (WM_DELETE_WINDOW).
//   close_window <window id>
#include <X11/Xlib.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
    Display* display = argc == 2 ? XOpenDisplay(nullptr) : nullptr;
    if (!display) return 2;
    XEvent e{};
    e.xclient = {ClientMessage, 0, False, display, static_cast<Window>(std::strtoul(argv[1], nullptr, 0)),
                 XInternAtom(display, "WM_PROTOCOLS", False), 32, {}};
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    const bool sent = XSendEvent(display, e.xclient.window, False, NoEventMask, &e) != 0;
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
