#include "serial/Ptt.h"

namespace ovrin {

void KeyPTT(frmMain& f) {
    if (!f.tmrPTT.Enabled()) f.log.Line(LogLevel::Info, "PTT keyed: RTS up");
    TryStep([&] { f.comPort.SetRTSEnable(true); });
    f.chkCtrlPTT.SetBackColor(kColourRed);
    f.tmrPTT.Stop();
    f.PTTExpired = false;
    f.tmrPTT.Start();
}

void ReleasePTT(frmMain& f) {
    if (f.tmrPTT.Enabled()) f.log.Line(LogLevel::Info, "PTT released: RTS down");
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
    f.log.Line(LogLevel::Warning, "PTT dropped by the watchdog: no key command for 10 s");
    f.tmrPTT.Stop();
    TryStep([&] { f.comPort.SetRTSEnable(false); });
    f.chkCtrlPTT.SetBackColor(kColourButtonFace);
}

void ReleasePTTIfKeyed(frmMain& f) {
    if (f.tmrPTT.Enabled()) ReleasePTT(f);
}

}  // namespace ovrin
