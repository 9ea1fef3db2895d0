/* Modem lines for pseudo-terminals, for end-to-end tests (LD_PRELOAD).
 * A pseudo-terminal has no RTS, DTR, CTS or DSR: the kernel refuses TIOCMGET and
 * friends, and the program then sees no lines at all. This shim answers those
 * requests where the kernel refuses them, as a loopback plug on the port would:
 * RTS comes back as CTS, DTR as DSR and CD. Every change of RTS or DTR is appended
 * to the file OVRIN_MODEM_LOG names, one line each: CLOCK_MONOTONIC seconds, the
 * line, its new state ("12.345678 RTS 1"), so a test sees when the transmitter
 * would have been keyed.
 * While the file OVRIN_SLOW_LINE names exists, the line takes time: what is
 * written to such a terminal is held, as a driver holds what the line has not
 * sent yet, and reaches the terminal 50 ms a byte later (at the next call on the
 * descriptor from then on); TIOCOUTQ counts it, and a close before then loses it,
 * as closing a port on Windows purges what its driver still holds. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { kMaxFds = 1024 };
/* The output lines each emulated descriptor holds; 0 for one not seen yet. */
static int lines[kMaxFds];
/* Descriptors whose lines are emulated. */
static char emulated[kMaxFds];
/* What the slow line still holds, for a few descriptors (size 0: a free slot). */
enum { kHeldMax = 4096 };
static struct held {
    int fd;
    size_t size;
    double due;
    char bytes[kHeldMax];
} held[4];

static int (*next_ioctl)(int, unsigned long, ...);
static int (*next_close)(int);
static ssize_t (*next_write)(int, const void*, size_t);

static void find_next(void) {
    next_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    next_close = (int (*)(int))dlsym(RTLD_NEXT, "close");
    next_write = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
}

static double seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static struct held* held_for(int fd) {
    for (size_t i = 0; i < sizeof held / sizeof held[0]; ++i)
        if (held[i].size > 0 && held[i].fd == fd) return &held[i];
    return NULL;
}

/* The line has sent what was held, once its time has come. */
static void deliver(int fd) {
    struct held* h = held_for(fd);
    if (!h || seconds() < h->due) return;
    if (next_write(fd, h->bytes, h->size) != (ssize_t)h->size) { /* the test sees what is missing */ }
    h->size = 0;
}

static void note(const char* name, int was, int now) {
    if (was == now) return;
    const char* path = getenv("OVRIN_MODEM_LOG");
    if (!path) return;
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    char text[64];
    int n = snprintf(text, sizeof text, "%ld.%06ld %s %d\n", (long)t.tv_sec, t.tv_nsec / 1000, name, now ? 1 : 0);
    if (write(fd, text, (size_t)n) != n) { /* a test that reads the file will notice */ }
    next_close(fd);
}

/* What a loopback plug reads back: CTS from RTS, DSR and CD from DTR. */
static int with_inputs(int out) {
    int in = 0;
    if (out & TIOCM_RTS) in |= TIOCM_CTS;
    if (out & TIOCM_DTR) in |= TIOCM_DSR | TIOCM_CAR;
    return (out & (TIOCM_RTS | TIOCM_DTR)) | in;
}

static int emulate(int fd, unsigned long request, int* arg) {
    int was = lines[fd], now = was;
    emulated[fd] = 1;
    switch (request) {
        case TIOCMGET: *arg = with_inputs(was); return 0;
        case TIOCMSET: now = *arg; break;
        case TIOCMBIS: now = was | *arg; break;
        case TIOCMBIC: now = was & ~*arg; break;
        default: errno = EINVAL; return -1;
    }
    now &= TIOCM_RTS | TIOCM_DTR;
    note("RTS", was & TIOCM_RTS, now & TIOCM_RTS);
    note("DTR", was & TIOCM_DTR, now & TIOCM_DTR);
    lines[fd] = now;
    return 0;
}

int ioctl(int fd, unsigned long request, ...) {
    if (!next_ioctl) find_next();
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (fd >= 0 && fd < kMaxFds && emulated[fd]) {
        deliver(fd);
        const struct held* h = held_for(fd);
        if (request == TIOCOUTQ && h && arg) {
            *(int*)arg = (int)h->size;
            return 0;
        }
    }
    int result = next_ioctl(fd, request, arg);
    const int modem = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    /* Only where the kernel has no modem lines for the descriptor: a terminal that
     * refuses them. */
    if (result == 0 || !modem || fd < 0 || fd >= kMaxFds || !arg || !isatty(fd)) return result;
    return emulate(fd, request, (int*)arg);
}

ssize_t write(int fd, const void* buffer, size_t size) {
    if (!next_write) find_next();
    if (fd < 0 || fd >= kMaxFds || !emulated[fd] || size == 0) return next_write(fd, buffer, size);
    deliver(fd);
    struct held* h = held_for(fd);
    const char* slow = getenv("OVRIN_SLOW_LINE");
    if (!h && slow && access(slow, F_OK) == 0) {
        for (size_t i = 0; i < sizeof held / sizeof held[0] && !h; ++i)
            if (held[i].size == 0) h = &held[i];
        if (h) h->fd = fd, h->due = seconds();
    }
    if (!h || h->size + size > kHeldMax) return next_write(fd, buffer, size);
    memcpy(h->bytes + h->size, buffer, size);
    h->size += size;
    h->due += 0.05 * (double)size;
    return (ssize_t)size;
}

int close(int fd) {
    if (!next_close) find_next();
    if (fd >= 0 && fd < kMaxFds) {
        struct held* h = held_for(fd);
        if (h) h->size = 0; /* lost with the close */
        emulated[fd] = 0;
    }
    /* A reopened port starts with its lines down, as the log will show. */
    if (fd >= 0 && fd < kMaxFds && lines[fd]) {
        note("RTS", lines[fd] & TIOCM_RTS, 0);
        note("DTR", lines[fd] & TIOCM_DTR, 0);
        lines[fd] = 0;
    }
    return next_close(fd);
}
