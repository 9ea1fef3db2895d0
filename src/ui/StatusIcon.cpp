#include "ui/StatusIcon.h"

namespace ovrin {
namespace {

void PutPicture(frmMain& f, const std::string& key) {
    TryStep([&] { f.imgConn.SetPicture(f.ImageList1.ListImages(key)); });
}

}  // namespace

void tmrPicture_Timer(frmMain& f) {
    UpdateStatusIcon(f);
    if (!f.turns.TurnOpen()) f.tmrActivePort.Stop();
}

void UpdateStatusIcon(frmMain& f) {
    const bool onLineShown = f.Status == ConnectionState::Serving;
    f.imgConn.SetVisible(false);
    int16_t state = sckClosed;
    TryStep([&] { state = f.tcpServer(0).State(); });
    if (state == sckListening) {
        int16_t& frame = f.IconFrame;
        if (onLineShown && frame >= 5 && frame <= 8) PutPicture(f, "wifi_online" + std::to_string(frame - 4));
        if (frame >= 1 && frame <= 4) PutPicture(f, "wifi_listen" + std::to_string(frame));
        ++frame;
        if (frame > (onLineShown ? 8 : 4)) frame = 1;
    } else {
        PutPicture(f, "wifi_off");
    }
    f.imgConn.SetVisible(true);
    f.imgConn.Refresh();
    const int interval = onLineShown ? 75 : 500;
    if (f.tmrPicture.Interval() != interval) f.tmrPicture.SetInterval(interval);
}

}  // namespace ovrin
