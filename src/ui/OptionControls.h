#pragma once
#include "model/frmMain.h"

namespace ovrin {

// An option's field was typed into or picked from: what the fields hold is taken
// where it is good (a new PTT line takes PTT control with it); a field that holds
// what cannot be taken keeps it for the user to mend, its tool tip says why, and
// the option keeps its value.
void OptionField_Change(frmMain& f);
// Before Listen is chosen: true when every field can be taken and no two listeners
// would share a TCP port; otherwise a box names the field and the reason.
bool OptionsReady(frmMain& f);

}  // namespace ovrin
