#pragma once
#include "model/frmMain.h"

namespace ovrin {

void tmrPicture_Timer(frmMain& f);
void UpdateStatusIcon(frmMain& f);

}  // namespace ovrin
