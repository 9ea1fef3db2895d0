#include "settings/GivenSettings.h"

#include <utility>

#include "app/frmMain.h"

namespace ovrin {
namespace {

void Type(TextBox& box, const std::string& text) {
    if (!text.empty()) box.SetText(text);
}

void Type(ComboBox& box, const std::string& text) {
    if (!text.empty()) box.SetText(text);
}

// Without the box's click rule, which would change the other given boxes again.
void SetExactly(CheckBox& box, int value) {
    if (value < 0) return;
    auto click = std::exchange(box.Click, nullptr);
    box.SetValue(value);
    box.Click = std::move(click);
}

}  // namespace

void TypeGivenSettings(frmMain& f) {
    const GivenSettings& g = f.Given;
    Type(f.txtHostPort, g.hostPort);
    Type(f.cboComPort, g.comPort);
    Type(f.cboBaud, g.baud);
    Type(f.cboParity, g.parity);
    Type(f.cboBits, g.dataBits);
    Type(f.cboStop, g.stopBits);
    // As clicked, RTS control last as the load does; then the given values stand.
    const std::pair<CheckBox*, int> boxes[] = {
        {&f.chkComPortActiveInListen, g.keepPortOpen}, {&f.chkRTS, g.rts}, {&f.chkDTR, g.dtr},
        {&f.chkCtrlPTT, g.pttControl}};
    for (const auto& [box, value] : boxes)
        if (value >= 0) box->SetValue(value);
    for (const auto& [box, value] : boxes) SetExactly(*box, value);
}

}  // namespace ovrin
