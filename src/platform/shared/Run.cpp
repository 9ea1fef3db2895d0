#include "platform/shared/Run.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/Lifecycle.h"
#include "cli/RunSettings.h"
#include "net/Admission.h"
#include "platform/headless/HeadlessDialogs.h"
#include "platform/headless/ListenRetry.h"
#include "platform/std/PortNames.h"
#include "serial/SerialPort.h"

namespace ovrin {
namespace {

// Binds the timers for as long as it lives and unbinds them at its end, so a model
// never calls a backend that is gone.
class BoundTimers {
public:
    BoundTimers(RunPlatform& platform, std::vector<Timer*> models) : models_(std::move(models)) {
        for (Timer* model : models_) {
            backends_.push_back(platform.Backend(*model));
            model->Bind(backends_.back().get());
        }
    }
    ~BoundTimers() {
        for (Timer* model : models_) model->Bind(nullptr);
    }
    BoundTimers(const BoundTimers&) = delete;
    BoundTimers& operator=(const BoundTimers&) = delete;

private:
    std::vector<Timer*> models_;
    std::vector<std::unique_ptr<TimerBackend>> backends_;
};

}  // namespace

std::string PortListing(const CommControl& com, const std::string& settingsFolder) {
    std::string out;
    for (int16_t n = 1; n <= kLastComPort; ++n) {
        const std::string device = com.DeviceName(n);
        if (device.empty()) continue;
        const std::string link = PortLink(n, settingsFolder);
        const std::string problem = com.PortProblem(n);
        std::error_code ignored;
        // The fixed table names devices that most computers lack: those are left out.
        if (!problem.empty() && link.empty() && !std::filesystem::exists(device, ignored)) continue;
        std::string name = "COM" + std::to_string(n);
        std::string shown = device + (link.empty() ? "" : " (" + link + ")");
        name.resize(std::max<std::size_t>(name.size() + 1, 7), ' ');
        shown.resize(std::max<std::size_t>(shown.size() + 2, 30), ' ');
        out += name + shown + (problem.empty() ? "can be opened" : "cannot be opened: " + problem) + "\n";
    }
    if (out.empty()) out = "No serial ports: no device for COM1 to COM" + std::to_string(kLastComPort) + "\n";
    return out;
}

int RunWindow(RunPlatform& platform, const RunFacilities& p, const cli::Options& o) {
    const std::unique_ptr<Dialogs> dialogs = platform.WindowDialogs();
    frmMain f(p.com, p.sockets, *dialogs, p.host, p.log);
    cli::GiveRunSettings(f, o, p.comPort);
    Door door(p.log, [&platform](Timer& t) { return platform.Backend(t); });
    door.Guard(f);
    const BoundTimers timers(platform, f.Timers());
    const std::unique_ptr<RunPlatform::Window> window = platform.MakeWindow(f);
    // Asked to end from outside (logout, shutdown, Ctrl+C): close as the user would.
    const auto hook = platform.OnEndRequest([&window] { window->Close(); });

    WireEvents(f);
    Form_Load(f);  // shows the window through f.Form.Show()
    const int status = platform.RunLoop();
    ReleasePort(p.com, f.options.pttLine);
    return status;
}

int RunHeadless(RunPlatform& platform, const RunFacilities& p, const cli::Options& o) {
    RepeatFilterLog log(p.log);
    headless::HeadlessDialogs dialogs(log);
    frmMain f(p.com, p.sockets, dialogs, p.host, log);
    cli::GiveRunSettings(f, o, p.comPort);
    Door door(p.log, [&platform](Timer& t) { return platform.Backend(t); });
    door.Guard(f);
    // Nobody sees the status picture: its animation would only wake the process.
    f.tmrPicture.Stop();
    ListenRetry retry(f, log);
    std::vector<Timer*> timers = f.Timers();
    timers.push_back(&retry.RetryTimer());
    const BoundTimers bound(platform, std::move(timers));
    // Asked to end from outside: end as closing the window would (settings saved).
    const auto hook = platform.OnEndRequest([&f, &p] {
        p.log.Line(LogLevel::Info, "Asked to end: saving the settings, closing the connections");
        if (f.Form.Unload) f.Form.Unload();
    });

    p.log.Line(LogLevel::Info,
               VersionCaption(p.host.VersionMajor(), p.host.VersionMinor(), p.host.VersionRevision()) +
                   " without a window; settings folder " + p.host.ProgramFolder() +
                   (o.bindAddress ? "; listening address " + *o.bindAddress : ""));
    WireEvents(f);
    Form_Load(f);
    retry.Check();
    const int status = platform.RunLoop();
    ReleasePort(p.com, f.options.pttLine);
    p.log.Line(LogLevel::Info, "Ended");
    return status;
}

}  // namespace ovrin
