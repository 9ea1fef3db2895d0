#include "platform/shared/Run.h"

#include <vector>

#include "app/Lifecycle.h"
#include "cli/RunSettings.h"
#include "net/Admission.h"
#include "platform/headless/HeadlessDialogs.h"
#include "platform/headless/ListenRetry.h"
#include "platform/status/StatusServer.h"
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

// The status page (--status-port): a snapshot of the model published from the
// event loop a few times a second; the server renders it on threads of its own,
// and what its visitors did wrong reaches the log from here, once a minute.
class StatusPage {
public:
    static constexpr int kPublishMs = 250;

    StatusPage(frmMain& f, const status::RecentLog& recent, const cli::Options& o)
        : f_(f), recent_(recent), incidents_(f.log), server_(cli::AllowListOf(o)),
          address_(o.bindAddress.value_or("")) {
        timer_.SetExact(false);
        timer_.Tick = [this] { Publish(); };
    }
    Timer& PublishTimer() { return timer_; }

    // After the settings are loaded: the port is one of them.
    void Start() {
        const int port = f_.options.statusPort;
        if (port <= 0) return;
        if (const std::string why = server_.Start(address_, port); !why.empty()) {
            f_.log.Line(LogLevel::Error, "Status page: cannot listen on TCP port " + std::to_string(port) + ": " + why);
            return;
        }
        Publish();
        timer_.Start();
        f_.log.Line(LogLevel::Info, "Status page (read-only) on TCP port " + std::to_string(port) +
                                        (address_.empty() ? "" : " of " + address_) +
                                        ": / for people, /status.json for scripts");
    }

private:
    void Publish() {
        server_.Publish(StatusSnapshotOf(f_, recent_.Lines()));
        incidents_.Add(server_.TakeIncidents(), f_.host.MonotonicMs());
    }

    frmMain& f_;
    const status::RecentLog& recent_;
    status::IncidentLog incidents_;
    status::StatusServer server_;
    std::string address_;
    Timer timer_{"tmrStatusPage", kPublishMs, false};
};

}  // namespace

int RunWindow(RunPlatform& platform, const RunFacilities& p, const cli::Options& o) {
    const std::unique_ptr<Dialogs> dialogs = platform.WindowDialogs();
    status::RecentLog log(p.log, p.host);
    frmMain f(p.com, p.sockets, *dialogs, p.host, log);
    cli::GiveRunSettings(f, o, p.comPort);
    Door door(cli::AllowListOf(o), log, [&platform](Timer& t) { return platform.Backend(t); });
    door.Guard(f.Admits);
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
    ReleasePort(p.com);
    return status;
}

int RunHeadless(RunPlatform& platform, const RunFacilities& p, const cli::Options& o) {
    status::RecentLog recent(p.log, p.host);
    RepeatFilterLog log(recent);
    headless::HeadlessDialogs dialogs(log);
    frmMain f(p.com, p.sockets, dialogs, p.host, log);
    cli::GiveRunSettings(f, o, p.comPort);
    Door door(cli::AllowListOf(o), recent, [&platform](Timer& t) { return platform.Backend(t); });
    door.Guard(f.Admits);
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
    retry.Check();
    page.Start();
    const int status = platform.RunLoop();
    ReleasePort(p.com);
    recent.Line(LogLevel::Info, "Ended");
    return status;
}

}  // namespace ovrin
