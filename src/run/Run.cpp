#include "run/Run.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "app/Lifecycle.h"
#include "app/ListenRetry.h"
#include "cli/RunSettings.h"
#include "net/Admission.h"
#include "platform/headless/HeadlessDialogs.h"
#include "platform/std/PortNames.h"
#include "serial/SerialPort.h"
#include "status/Incidents.h"
#include "status/RecentLog.h"
#include "status/StatusPublisher.h"
#include "status/StatusServer.h"
#include "ui/StatusView.h"

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

// The status page over this run's model: its options, its snapshot, and a real
// HTTP server on the --bind address. It publishes at each change of the server's
// state, beside whoever else follows it.
class StatusPage {
public:
    StatusPage(frmMain& f, const status::RecentLog& recent, const cli::Options& o)
        : f_(f),
          publisher_(
              f.station.log, [&f] { return f.station.host.MonotonicMs(); }, o.bindAddress.value_or(""),
              [address = o.bindAddress.value_or("")](int port, std::string& why) -> std::unique_ptr<status::PageServer> {
                  auto server = std::make_unique<status::StatusServer>();
                  why = server->Start(address, port);
                  if (!why.empty()) return nullptr;
                  return server;
              },
              [&f] { return status::PageOptions{f.station.settings.options.statusPort, f.station.settings.options.allow}; },
              [&f, &recent] { return StatusSnapshotOf(f, recent.Lines()); }) {}
    ~StatusPage() {
        if (following_) f_.station.state.Changed.Remove(*following_);
    }
    StatusPage(const StatusPage&) = delete;
    StatusPage& operator=(const StatusPage&) = delete;
    Timer& PublishTimer() { return publisher_.PublishTimer(); }

    // After the settings are loaded (the port is one of them).
    void Start() {
        following_ = f_.station.state.Changed.Add([this] { publisher_.Publish(); });
        publisher_.Publish();
    }

private:
    frmMain& f_;
    status::StatusPublisher publisher_;
    std::optional<Hooks::Id> following_;
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
    status::RecentLog log(p.log, p.host);
    frmMain f(p.com, p.sockets, *dialogs, p.host, log);
    cli::GiveRunSettings(f, o, p.comPort);
    Door door(log, [&platform](Timer& t) { return platform.Backend(t); });
    door.Guard(f.station);
    StatusPage page(f, log, o);
    std::vector<Timer*> models = f.Timers();
    models.push_back(&page.PublishTimer());
    const BoundTimers timers(platform, std::move(models));
    const std::unique_ptr<RunPlatform::Window> window = platform.MakeWindow(f);
    // Asked to end from outside (logout, shutdown, Ctrl+C): close as the user would.
    const auto hook = platform.OnEndRequest([&window] { window->Close(); });

    WireEvents(f);
    Form_Load(f);  // shows the window through f.Form.Show()
    page.Start();
    const int status = platform.RunLoop();
    ReleasePort(p.com, f.station.settings.options.pttLine);
    return status;
}

int RunHeadless(RunPlatform& platform, const RunFacilities& p, const cli::Options& o) {
    status::RecentLog recent(p.log, p.host);
    RepeatFilterLog log(recent);
    headless::HeadlessDialogs dialogs(log);
    frmMain f(p.com, p.sockets, dialogs, p.host, log);
    cli::GiveRunSettings(f, o, p.comPort);
    Door door(recent, [&platform](Timer& t) { return platform.Backend(t); });
    door.Guard(f.station);
    StatusPage page(f, recent, o);
    // Nobody sees the status picture: its animation would only wake the process.
    f.tmrPicture.Stop();
    ListenRetry retry(f, log);
    std::vector<Timer*> timers = f.Timers();
    timers.push_back(&retry.RetryTimer());
    timers.push_back(&page.PublishTimer());
    const BoundTimers bound(platform, std::move(timers));
    // Asked to end from outside: end as closing the window would (settings saved).
    const auto hook = platform.OnEndRequest([&f, &recent] {
        recent.Line(LogLevel::Info, "Asked to end: saving the settings, closing the connections");
        if (f.Form.Unload) f.Form.Unload();
    });

    recent.Line(LogLevel::Info,
               VersionCaption(p.host.VersionMajor(), p.host.VersionMinor(), p.host.VersionRevision()) +
                   " without a window; settings folder " + p.host.ProgramFolder() +
                   (o.bindAddress ? "; listening address " + *o.bindAddress : ""));
    WireEvents(f);
    Form_Load(f);
    // Nobody is at a window to see that every client is turned away: a service
    // whose allow-list cannot be read does not start rather than serve no one, or
    // everyone.
    if (const auto refusal = AllowListRefusal(f)) {
        recent.Line(LogLevel::Error, *refusal);
        ReleasePort(p.com, f.station.settings.options.pttLine);
        return cli::kBadUsage;
    }
    retry.Check();
    page.Start();
    const int status = platform.RunLoop();
    ReleasePort(p.com, f.station.settings.options.pttLine);
    recent.Line(LogLevel::Info, "Ended");
    return status;
}

}  // namespace ovrin
