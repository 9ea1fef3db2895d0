#pragma once
// The status page's view of the window model: what it shows, copied into a plain
// value on the event loop, for the page's server to render on its own threads.
#include <vector>

#include "model/frmMain.h"
#include "status/StatusSnapshot.h"

namespace ovrin {

// `log`: the log's last lines, oldest first.
status::StatusSnapshot StatusSnapshotOf(frmMain& f, std::vector<status::LogLine> log);

}  // namespace ovrin
