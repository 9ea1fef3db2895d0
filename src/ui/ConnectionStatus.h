#pragma once
#include "app/frmMain.h"

namespace ovrin {

void cboConn_Click(frmMain& f);
void imgConn_Click(frmMain& f);
void txtHostPort_KeyUp(frmMain& f);
void RefreshControlState(frmMain& f);

// The numeric value of the number a text begins with (0 when it begins with none).
double LeadingNumber(const std::string& text);

}  // namespace ovrin
