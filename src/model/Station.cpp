#include "model/Station.h"

namespace ovrin {

Station::Station(CommControl& com, SocketArray& sockets, Dialogs& dlg, Host& h, Log& l)
    : comPort(com), tcpServer(sockets), dialogs(dlg), host(h), log(l) {}

void Station::ChangeSettings(const StationSettings& s) {
    settings = s;
    transmitter.SetLine(s.options.pttLine);
    SettingsChanged();
}

void Station::TakeOptions(const ServerOptions& o) {
    settings.options = o;
    transmitter.SetLine(o.pttLine);
}

}  // namespace ovrin
