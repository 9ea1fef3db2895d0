// Watches the screen's top-level windows: prints "ready" once it watches, then
// "mapped <id>" for each window shown, and ends when the window given is destroyed.
// Its program has then ended, so whatever it showed before is in the output: a
// window that must not appear is checked without waiting for it for some time.
//   watch_maps <window id>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    Display* display = argc == 2 ? XOpenDisplay(nullptr) : nullptr;
    if (!display) return 2;
    const auto watched = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);
    for (XEvent e{};;) {
        XNextEvent(display, &e);
        if (e.type == MapNotify) std::printf("mapped 0x%lx\n", e.xmap.window);
        std::fflush(stdout);
        if (e.type == DestroyNotify && e.xdestroywindow.window == watched) break;
    }
    XCloseDisplay(display);
    return 0;
}
