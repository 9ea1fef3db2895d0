#include "platform/shared/Run.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "app/Lifecycle.h"
#include "cli/RunSettings.h"
#include "net/Admission.h"
#include "platform/headless/HeadlessDialogs.h"
#include "platform/headless/ListenRetry.h"
#include "platform/status/StatusServer.h"
#include "platform/std/PortNames.h"
#include "serial/SerialPort.h"
#include "status/Incidents.h"
#include "status/RecentLog.h"
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

// The status page (the status port option): a snapshot of the model published
// from the event loop a few times a second; the server renders it on threads of
// its own, and what its visitors did wrong reaches the log from here, once a
// minute. The port and the allow-list are the options' as they are at each
// change of the server's state (the window changes them while Off-line, and they
// take effect at Listen as the other ports do). Without a page, nothing ticks.
class StatusPage {
public:
    static constexpr int kPublishMs = 250;

    StatusPage(frmMain& f, const status::RecentLog& recent, const cli::Options& o)
        : f_(f), recent_(recent), incidents_(f.log), address_(o.bindAddress.value_or("")) {
        timer_.SetExact(false);
        timer_.Tick = [this] { Publish(); };
    }
    ~StatusPage() {
        if (started_) f_.state.Changed = std::move(stateChanged_);
    }
    StatusPage(const StatusPage&) = delete;
    StatusPage& operator=(const StatusPage&) = delete;
    Timer& PublishTimer() { return timer_; }

    // After the settings are loaded (the port is one of them) and the events wired.
    void Start() {
        started_ = true;
        stateChanged_ = f_.state.Changed;
        f_.state.Changed = [this] {
            if (stateChanged_) stateChanged_();
            Publish();
        };
        Publish();
    }

private:
    void Publish() {
        Follow();
        timer_.SetEnabled(server_ != nullptr);
        if (!server_) return;
        server_->Publish(StatusSnapshotOf(f_, recent_.Lines()));
        incidents_.Add(server_->TakeIncidents(), f_.host.MonotonicMs());
    }

    // Serves on the option's port, moving when it changes; a port it cannot take
    // is logged once, not at every tick.
    void Follow() {
        const int port = f_.options.statusPort;
        if (port != port_) {
            if (server_) f_.log.Line(LogLevel::Info, "Status page on TCP port " + std::to_string(port_) + " closed");
            server_.reset();
            port_ = port;
            allowText_.reset();
            if (port > 0) Listen(port);
        }
        if (server_ && allowText_ != f_.options.allow) {
            allowText_ = f_.options.allow;
            server_->Allow(AllowListOfOption(*allowText_));
        }
    }

    void Listen(int port) {
        auto server = std::make_unique<status::StatusServer>();
        if (const std::string why = server->Start(address_, port); !why.empty()) {
            f_.log.Line(LogLevel::Error, "Status page: cannot listen on TCP port " + std::to_string(port) + ": " + why);
            return;
        }
        server_ = std::move(server);
        f_.log.Line(LogLevel::Info, "Status page (read-only) on TCP port " + std::to_string(port) +
                                        (address_.empty() ? "" : " of " + address_) +
                                        ": / for people, /status.json for scripts");
    }

    frmMain& f_;
    const status::RecentLog& recent_;
    status::IncidentLog incidents_;
    std::string address_;
    int port_ = 0;
    std::optional<std::string> allowText_;
    std::unique_ptr<status::StatusServer> server_;
    bool started_ = false;
    std::function<void()> stateChanged_;
    Timer timer_{"tmrStatusPage", kPublishMs, false};
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
    door.Guard(f);
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
    ReleasePort(p.com, f.options.pttLine);
    return status;
}

int RunHeadless(RunPlatform& platform, const RunFacilities& p, const cli::Options& o) {
    status::RecentLog recent(p.log, p.host);
    RepeatFilterLog log(recent);
    headless::HeadlessDialogs dialogs(log);
    frmMain f(p.com, p.sockets, dialogs, p.host, log);
    cli::GiveRunSettings(f, o, p.comPort);
    Door door(recent, [&platform](Timer& t) { return platform.Backend(t); });
    door.Guard(f);
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
        ReleasePort(p.com, f.options.pttLine);
        return cli::kBadUsage;
    }
    retry.Check();
    page.Start();
    const int status = platform.RunLoop();
    ReleasePort(p.com, f.options.pttLine);
    recent.Line(LogLevel::Info, "Ended");
    return status;
}

}  // namespace ovrin
