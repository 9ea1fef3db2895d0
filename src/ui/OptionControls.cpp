#include "ui/OptionControls.h"

#include "station/OptionsText.h"
#include "text/Numbers.h"

namespace ovrin {
namespace {

const frmMain::OptionField* FieldOf(const frmMain& f, const std::string& option) {
    for (const frmMain::OptionField& field : f.OptionFields())
        if (field.option == option) return &field;
    return nullptr;
}

std::string CaptionOf(const frmMain& f, const std::string& option) {
    const frmMain::OptionField* field = FieldOf(f, option);
    return field ? field->caption : option;
}

// Two listeners on one TCP port: the second could never listen.
std::string PortClash(const frmMain& f, const ServerOptions& o) {
    const int host = static_cast<int>(LeadingNumber(f.txtHostPort.Text()));
    const auto clash = [&](const char* option, int port, const std::string& other) {
        return CaptionOf(f, option) + " " + std::to_string(port) + " is the " + other +
               " as well: give each its own TCP port.";
    };
    if (o.rfc2217Port != 0 && o.rfc2217Port == host) return clash("rfc2217-port", o.rfc2217Port, "Host IP Port");
    if (o.statusPort != 0 && o.statusPort == host) return clash("status-port", o.statusPort, "Host IP Port");
    if (o.statusPort != 0 && o.statusPort == o.rfc2217Port)
        return clash("status-port", o.statusPort, CaptionOf(f, "rfc2217-port"));
    return {};
}

}  // namespace

void OptionField_Change(frmMain& f) {
    ServerOptions taken = f.station.settings.options;
    for (const frmMain::OptionField& field : f.OptionFields()) {
        const auto why = SetOption(taken, field.option, field.Text());
        field.control.SetToolTip(why ? field.toolTip + "\n\nNot taken: " + *why + "; it stays " +
                                           OptionText(f.station.settings.options, field.option)
                                     : field.toolTip);
    }
    const StationSettings moved = WithPttLine(f.Settings(), taken.pttLine);
    f.chkDTR.ShowValue(moved.dtr);
    f.chkRTS.ShowValue(moved.rts);
    f.TakeOptions(taken);
}

bool OptionsReady(frmMain& f) {
    ServerOptions o = f.station.settings.options;
    std::string problem;
    for (const frmMain::OptionField& field : f.OptionFields()) {
        if (const auto why = SetOption(o, field.option, field.Text())) {
            problem = field.caption + " \"" + field.Text() + "\": " + *why + ".";
            break;
        }
    }
    if (problem.empty()) problem = PortClash(f, o);
    if (problem.empty()) return true;
    f.station.dialogs.MsgBox(problem, MsgButtons::OK, MsgIcon::Exclamation, "Invalid Option");
    return false;
}

}  // namespace ovrin
