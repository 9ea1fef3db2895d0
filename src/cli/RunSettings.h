#pragma once
// The command line applied to a window model before it loads: what a user would
// have typed before choosing Listen, and the limits that have no box. Shared by
// every platform's main.
#include <string>

#include "app/frmMain.h"
#include "cli/CommandLine.h"
#include "net/Admission.h"
#include "net/AllowList.h"

namespace ovrin::cli {

// `comPort`: --com's COM name, or the one linked to its device.
void GiveRunSettings(frmMain& f, const Options& o, const std::string& comPort);
// --allow's entries (already checked by the parser).
AllowList AllowListOf(const Options& o);

// --allow: requests from elsewhere are refused in the accept path; the log limit
// runs on a timer of the platform's event loop (`Backend`, made from `args` and
// the timer).
template <typename Backend>
class Door {
public:
    template <typename... Args>
    Door(const Options& o, Log& log, Args&... args)
        : admission_(AllowListOf(o), log), backend_(args..., admission_.QuietTimer()), active_(!o.allow.empty()) {
        admission_.QuietTimer().Bind(&backend_);
    }
    ~Door() { admission_.QuietTimer().Bind(nullptr); }
    Door(const Door&) = delete;
    Door& operator=(const Door&) = delete;
    void Guard(frmMain& f) {
        if (active_) f.Admits = [this](const std::string& address) { return admission_.Admits(address); };
    }

private:
    Admission admission_;
    Backend backend_;
    bool active_;
};

// The end of the process would close the port as well; a keyed transmitter is
// released first, explicitly.
void ReleaseSerialPort(CommControl& com);

}  // namespace ovrin::cli
