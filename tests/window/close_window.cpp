// Asks a window to close as a window manager's close button does: the
// WM_DELETE_WINDOW message of the window's protocols.
//   close_window <window id>
#include <X11/Xlib.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc != 2) return 2;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 1;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
    e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, e.xclient.window, False, NoEventMask, &e) != 0;
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
