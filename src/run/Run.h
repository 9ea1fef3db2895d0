#pragma once
// One run of the program, alike on every platform: the window model made over the
// platform's facilities, the settings the command line gives, the allow-list at
// the door, every timer bound, the handlers wired, Form_Load, the event loop, and
// the serial port let go at the end. Each main gives only what its platform makes.
#include <functional>
#include <memory>
#include <string>

#include "cli/CommandLine.h"
#include "model/frmMain.h"
#include "platform/Timer.h"

namespace ovrin {

// What a program's platform makes for a run.
class RunPlatform {
public:
    // Something the run holds while it lasts.
    class Held {
    public:
        virtual ~Held() = default;
    };
    class Window : public Held {
    public:
        // Asked from outside to end: close as the user would.
        virtual void Close() = 0;
    };

    virtual ~RunPlatform() = default;

    // A backend on the event loop for a timer model.
    virtual std::unique_ptr<TimerBackend> Backend(Timer& model) = 0;
    // The window's message boxes, made before the model that asks them.
    virtual std::unique_ptr<Dialogs> WindowDialogs() = 0;
    // The window over the model, with its pictures; the boxes show above it.
    virtual std::unique_ptr<Window> MakeWindow(frmMain& f) = 0;
    // While the hook is held, a request from the system to end (a signal, Ctrl+C,
    // logoff) runs `request` from the event loop.
    virtual std::unique_ptr<Held> OnEndRequest(std::function<void()> request) = 0;
    // The event loop, until the program ends; its exit status.
    virtual int RunLoop() = 0;
};

// The platform's facilities for a run, and the COM name given for it, if any.
struct RunFacilities {
    CommControl& com;
    SocketArray& sockets;
    Host& host;
    Log& log;
    std::string comPort;
};

// What --list-ports prints: each COM port with a device or a dosdevices link, its
// device, and whether it can be opened (told without opening it, so no modem line
// moves).
std::string PortListing(const CommControl& com, const std::string& settingsFolder);

int RunWindow(RunPlatform& platform, const RunFacilities& p, const cli::Options& o);
// The same model and handlers with no view: the boxes are log lines, and Listen is
// selected again while the server is Off-line, since nobody else can.
int RunHeadless(RunPlatform& platform, const RunFacilities& p, const cli::Options& o);

}  // namespace ovrin
