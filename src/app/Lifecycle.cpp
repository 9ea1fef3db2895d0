#include "app/Lifecycle.h"

#include "net/Commands.h"
#include "net/ComPortClient.h"
#include "net/Inbound.h"
#include "net/Listener.h"
#include "net/Rights.h"
#include "serial/SerialPort.h"
#include "settings/Settings.h"
#include "station/OptionsText.h"
#include "ui/ConnectionStatus.h"
#include "ui/OptionControls.h"
#include "ui/StationBoxes.h"
#include "ui/StatusIcon.h"

namespace ovrin {

std::optional<std::string> AllowListRefusal(const frmMain& f) {
    const auto fault = AllowListFault(f.station.settings.options);
    if (!fault) return std::nullopt;
    return "Not started: the allow-list in " + OptionsFilePath(f.station) + " cannot be used (" + *fault +
           "); mend that line or give --allow";
}

void WireEvents(frmMain& f) {
    f.cboConn.Click = [&f] { cboConn_Click(f); };
    f.imgConn.Click = [&f] { imgConn_Click(f); };
    // What the user changes in a box reaches the server's settings at once; what the
    // server changes itself is shown.
    f.txtHostPort.KeyUp = [&f] { txtHostPort_KeyUp(f); };
    f.txtHostPort.Change = [&f] { f.PassSettings(); };
    f.chkComPortActiveInListen.Click = [&f] { chkComPortActiveInListen_Click(f); };
    f.chkCtrlPTT.Click = [&f] { chkCtrlPTT_Click(f); };
    f.chkRTS.Click = [&f] { chkRTS_Click(f); };
    f.chkDTR.Click = [&f] { chkDTR_Click(f); };
    f.chkBridge.Click = [&f] { f.PassSettings(); };
    for (ComboBox* box : {&f.cboComPort, &f.cboBaud, &f.cboBits, &f.cboParity, &f.cboStop, &f.cboInterbyte}) {
        box->Click = [&f] { f.PassSettings(); };
        box->Change = [&f] { f.PassSettings(); };
    }
    f.station.SettingsChanged.Add([&f] {
        const StationSettings shown = f.station.settings;
        f.ShowSettings(shown);
    });
    f.station.PortProblemChanged.Add([&f] { ShowPortProblem(f); });
    f.station.PortsChanged.Add([&f] {
        const std::string text = f.cboComPort.Text();
        f.cboComPort.Clear();
        TryStep(f.station.faults, [&] { ListComPorts(f); });
        f.cboComPort.SetText(text);
    });
    f.station.ClientsChanged.Add([&f] { TryStep(f.station.faults, [&] { RefreshRemoteList(f); }); });
    for (const frmMain::OptionField& field : f.OptionFields()) {
        if (auto* combo = dynamic_cast<ComboBox*>(&field.control)) {
            combo->Click = [&f] { OptionField_Change(f); };
            combo->Change = [&f] { OptionField_Change(f); };
        } else if (auto* text = dynamic_cast<TextBox*>(&field.control)) {
            text->Change = [&f] { OptionField_Change(f); };
        }
    }
    f.Form.Unload = [&f] { Form_Unload(f); };

    f.station.tmrRx.Tick = [&f] { tmrRx_Timer(f); };
    f.station.tmrPTT.Tick = [&f] { tmrPTT_Timer(f.station); };
    f.tmrPicture.Tick = [&f] { tmrPicture_Timer(f); };
    for (int16_t slot = 1; slot <= kMostClients; ++slot)
        f.station.tmrHold[static_cast<std::size_t>(slot - 1)].Tick = [&f, slot] { tmrHold_Timer(f.station, slot); };
    f.station.tmrReopen.Tick = [&f] { tmrReopen_Timer(f.station); };
    f.station.tmrLineSettle.Tick = [&f] { tmrLineSettle_Timer(f.station); };
    f.station.tmrModemLines.Tick = [&f] { tmrModemLines_Timer(f.station); };
    f.station.tmrClientLog.Tick = [&f] { f.station.clientLog.Flush(); };
    f.station.tmrNotReading.Tick = [&f] { tmrNotReading_Timer(f.station); };
    f.station.tmrReadAgain.Tick = [&f] { tmrReadAgain_Timer(f.station); };
    f.station.tmrDevice.Tick = [&f] { tmrDevice_Timer(f.station); };
    f.station.state.Changed.Add([&f] { TryStep(f.station.faults, [&] { RefreshControlState(f); }); });
    f.station.transmitter.Changed.Add([&f] { ShowTransmitter(f); });
    f.station.transmitter.Changed.Add([&f] { WatchTheKeyer(f.station); });
    f.station.transmitter.WriteRelease = [&f](const Bytes& release, bool now) { f.station.path.WriteCatRelease(release, now); };
    f.station.transmitter.MayKey = [&f](KeyRequest& r) { return KeyRefusal(f.station, r); };
    f.station.comPort.OnComm = [&f](CommEvent e) { comPort_OnComm(f, e); };

    f.station.tcpServer.ConnectionRequest = [&f](int16_t i, int32_t id) { tcpServer_ConnectionRequest(f.station, i, id); };
    f.station.tcpServer.DataArrival = [&f](int16_t i, int32_t n) { tcpServer_DataArrival(f.station, i, n); };
    f.station.tcpServer.CloseEvent = [&f](int16_t i) { tcpServer_Close(f.station, i); };
    f.station.tcpServer.Error = [&f](int16_t i, int16_t, const std::string& why) { tcpServer_Error(f.station, i, why); };
    f.station.tcpServer.AcceptFailed = [&f](int16_t i, const std::string& why) { tcpServer_AcceptFailed(f.station, i, why); };
    f.station.comPort.Lost = [&f](const std::string& why) { comPort_Lost(f.station, why); };
}

void comPort_OnComm(frmMain& f, CommEvent Event) {
    if (Event == comEvReceive) f.station.path.RadioBytesCame();
    else if (Event == comEvSend) ResumePausedReads(f.station);
}

void tmrRx_Timer(frmMain& f) {
    f.station.path.Poll();
    ResumePausedReads(f.station);
    PaceReceivePoll(f.station);
}

std::string BuildVersionText(int major, int minor, int revision) {
    auto twoDigits = [](int n) {
        std::string text = std::to_string(n);
        return text.size() == 1 ? "0" + text : text;
    };
    return std::to_string(major) + "." + twoDigits(minor) + "." + twoDigits(revision);
}

std::string VersionCaption(int major, int minor, int revision) {
    return "Ovrin-Server v" + BuildVersionText(major, minor, revision);
}

// Start-up never stops on an error: a failing step is skipped. The settings are
// in the window before anything listens, opens or keys.
void Form_Load(frmMain& f) {
    TryStep(f.station.faults, [&] {
        f.station.VersionText = BuildVersionText(f.station.host.VersionMajor(), f.station.host.VersionMinor(), f.station.host.VersionRevision());
    });
    TryStep(f.station.faults, [&] {
        f.Form.SetCaption(VersionCaption(f.station.host.VersionMajor(), f.station.host.VersionMinor(), f.station.host.VersionRevision()));
    });
    TryStep(f.station.faults, [&] { ListComPorts(f); });
    LoadedSettings loaded;
    TryStep(f.station.faults, [&] { loaded = LoadSettings(f.station); });
    CheckPortDevice(f.station);
    if (loaded.listen) StartListening(f.station);
    if (loaded.defaults) SaveSettings(f.station);
    TryStep(f.station.faults, [&] { f.Form.Show(); });
    TryStep(f.station.faults, [&] { RefreshControlState(f); });
}

void Form_Unload(frmMain& f) {
    SaveSettings(f.station);
    Form_Terminate(f);
}

void Form_Terminate(frmMain& f) {
    // Before anything closes: a CAT key's release is written now.
    ReleasePTTIfKeyed(f.station, "the program ended", true);
    // Clients of a listening server go with the process; Off-line, none are left.
    if (f.station.state.OffLine()) TryStep(f.station.faults, [&] { CloseConnection(f.station, 0); });
    // The end of the process would close the port too, but only an explicit close
    // drops RTS first.
    CloseComPort(f.station);
    f.station.host.EndProgram();
}

}  // namespace ovrin
