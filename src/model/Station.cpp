#include "model/Station.h"

namespace ovrin {

Station::Station(CommControl& com, SocketArray& sockets, Dialogs& dlg, Host& h, Log& l)
    : comPort(com), tcpServer(sockets), dialogs(dlg), host(h), log(l) {}

}  // namespace ovrin
