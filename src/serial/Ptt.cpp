#include "serial/Ptt.h"

namespace ovrin {

void KeyPTT(frmMain& f) {
    TryStep([&] { f.comPort.SetRTSEnable(true); });
    f.chkCtrlPTT.SetBackColor(kColourRed);
    f.tmrPTT.Stop();
    f.PTTExpired = false;
    f.tmrPTT.Start();
}

void ReleasePTT(frmMain& f) {
    f.tmrPTT.Stop();
    TryStep([&] { f.comPort.SetRTSEnable(false); });
    f.PTTExpired = true;
    f.chkCtrlPTT.SetBackColor(kColourButtonFace);
}

void tmrPTT_Timer(frmMain& f) {
    f.PTTExpired = true;
}

void PTTWatchdogCheck(frmMain& f) {
    if (!f.tmrPTT.Enabled() || !f.PTTExpired) return;
    f.tmrPTT.Stop();
    TryStep([&] { f.comPort.SetRTSEnable(false); });
    f.chkCtrlPTT.SetBackColor(kColourButtonFace);
}

void ReleasePTTIfUnattended(frmMain& f) {
    if (f.tmrPTT.Enabled()) ReleasePTT(f);
}

}  // namespace ovrin
