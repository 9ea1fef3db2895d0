#pragma once
#include "app/frmMain.h"

namespace ovrin {

void tmrPicture_Timer(frmMain& f);
void UpdateStatusIcon(frmMain& f);

}  // namespace ovrin
