#include "ui/StatusIcon.h"

namespace ovrin {
namespace {

void PutPicture(frmMain& f, const std::string& key) {
    TryStep(f.station.faults, [&] { f.imgConn.SetPicture(f.ImageList1.ListImages(key)); });
}

}  // namespace

void tmrPicture_Timer(frmMain& f) {
    UpdateStatusIcon(f);
    if (!f.station.turns.TurnOpen()) f.station.path.tmrActivePort.Stop();
}

void UpdateStatusIcon(frmMain& f) {
    const bool serving = f.station.state.Serving();
    f.imgConn.SetVisible(false);
    if (const auto key = f.animation.Next(!f.station.state.OffLine(), serving)) PutPicture(f, *key);
    f.imgConn.SetVisible(true);
    f.imgConn.Refresh();
    const int interval = StatusAnimation::IntervalMs(serving);
    if (f.tmrPicture.Interval() != interval) f.tmrPicture.SetInterval(interval);
}

}  // namespace ovrin
