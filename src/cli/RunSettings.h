#pragma once
// The command line applied to a window model before it loads: what a user would
// have typed before choosing Listen, and the limits that have no box. Shared by
// every platform's main.
#include <string>

#include "allow/AllowList.h"
#include "cli/CommandLine.h"
#include "model/frmMain.h"

namespace ovrin::cli {

// `comPort`: --com's COM name, or the one linked to its device.
void GiveRunSettings(frmMain& f, const Options& o, const std::string& comPort);
// --allow's entries (already checked by the parser).
AllowList AllowListOf(const Options& o);

}  // namespace ovrin::cli
