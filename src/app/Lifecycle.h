#pragma once
#include "app/frmMain.h"

namespace ovrin {

// Connects every control, timer and socket event of the window to its handler.
void WireEvents(frmMain& f);

// "1.10.01": minor and revision padded to two digits, the major never.
std::string BuildVersionText(int major, int minor, int revision);

void Form_Load(frmMain& f);
void Form_Unload(frmMain& f);
void Form_Terminate(frmMain& f);

}  // namespace ovrin
