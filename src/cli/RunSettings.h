#pragma once
// The command line applied to a window model before it loads: what a user would
// have typed before choosing Listen. Shared by every platform's main.
#include <string>

#include "cli/CommandLine.h"
#include "model/frmMain.h"

namespace ovrin::cli {

// `comPort`: --com's COM name, or the one linked to its device.
void GiveRunSettings(frmMain& f, const Options& o, const std::string& comPort);

}  // namespace ovrin::cli
