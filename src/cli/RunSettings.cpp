#include "cli/RunSettings.h"

namespace ovrin::cli {

namespace {

int OnOff(const std::optional<bool>& given) {
    return given ? (*given ? 1 : 0) : -1;
}

}  // namespace

void GiveRunSettings(frmMain& f, const Options& o, const std::string& comPort) {
    GivenSettings& g = f.station.Given;
    g.hostPort = o.hostPort.value_or("");
    g.comPort = comPort;
    if (o.line) {
        g.baud = o.line->baud;
        g.parity = o.line->parity;
        g.dataBits = o.line->dataBits;
        g.stopBits = o.line->stopBits;
    }
    g.rts = OnOff(o.rts);
    g.dtr = OnOff(o.dtr);
    g.pttControl = OnOff(o.pttRts);
    g.keepPortOpen = OnOff(o.keepPortOpen);
    g.options = o.options;
}

}  // namespace ovrin::cli
