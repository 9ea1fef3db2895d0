#include "model/frmMain.h"

#include <initializer_list>

#include "station/OptionsText.h"
#include "text/Text.h"

namespace ovrin {
namespace {

void Place(Control& c, const char* name, Geometry g, const char* tip = "") {
    c.name = name;
    c.geometry = g;
    c.SetToolTip(tip);
}

void Fill(ComboBox& box, std::initializer_list<const char*> items) {
    for (const char* item : items) box.AddItem(item);
}

void Caption(Label& label, const char* name, const char* caption, Geometry g) {
    label.name = name;
    label.geometry = g;
    label.align = Label::Align::Right;
    label.SetCaption(caption);
}

}  // namespace

frmMain::frmMain(CommControl& com, SocketArray& sockets, Dialogs& dlg, Host& h, Log& l)
    : ImageList1({"wifi_off", "wifi_listen1", "wifi_listen2", "wifi_listen3", "wifi_listen4",
                  "wifi_online1", "wifi_online2", "wifi_online3", "wifi_online4"}),
      station(com, sockets, dlg, h, l) {
    Form.name = "frmMain";
    tmrPicture.SetExact(false);
    Form.geometry = {0, 0, 5010, 5640};
    Form.SetCaption("Ovrin-Server v1.00");

    Place(cboRmtAddress, "cboRmtAddress", {1440, 2310, 1530, 315});
    cboRmtAddress.SetText("      .      .      .");

    Place(chkBridge, "chkBridge", {2190, 2025, 765, 285});
    chkBridge.caption = "Bridge";
    chkBridge.captionLeft = true;
    chkBridge.hidden = true;

    Place(chkCtrlPTT, "chkCtrlPTT", {315, 2670, 2610, 195}, "Ovrin-Remote controls RTS as PTT");
    chkCtrlPTT.caption = "Control RTS as PTT";

    Place(chkComPortActiveInListen, "chkComPortActiveInListen", {315, 2970, 2610, 195},
          "Keep serial port active in Listen mode to keep Icom PCR1000 active off-line");
    chkComPortActiveInListen.caption = "Com Port active in Listen Mode";

    Place(chkDTR, "chkDTR", {4245, 2625, 690, 285}, "Check to enable DTR active when on-line");
    chkDTR.caption = "DTR:";
    chkDTR.captionLeft = true;

    Place(chkRTS, "chkRTS", {3465, 2625, 690, 285}, "Check to enable RTS active when on-line");
    chkRTS.caption = "RTS:";
    chkRTS.captionLeft = true;

    Place(cboParity, "cboParity", {3960, 1995, 975, 315}, "Set the radio's Com Port parity here");
    Fill(cboParity, {"None", "Even", "Odd"});
    Place(cboStop, "cboStop", {3960, 2310, 975, 315},
          "Set the number of stop bits the radio's Com Port uses here");
    Fill(cboStop, {"1", "2"});
    Place(cboInterbyte, "cboInterbyte", {3765, 3840, 1245, 315},
          "Enter the maximum time between data bytes in each packet");
    Fill(cboInterbyte, {"50 mS", "100 mS", "150 mS", "200 mS", "250 mS", "300 mS", "350 mS", "400 mS",
                        "450 mS", "500 mS", "600 mS", "700 mS", "800 mS", "900 mS", "1000 mS"});
    cboInterbyte.hidden = true;
    Place(cboConn, "cboConn", {1440, 1050, 1530, 315}, kConnToolTip);
    Fill(cboConn, {kConnOffLine, kConnListen, kConnDefault});
    cboConn.listOnly = true;

    Place(txtHostPort, "txtHostPort", {1440, 1995, 765, 315}, "Set the Listen port here - default is 50000");
    txtHostPort.maxLength = 5;
    Place(txtHostAdrs, "txtHostAdrs", {1440, 1680, 1530, 315}, "Enter this address as the Host Address in Ovrin");
    txtHostAdrs.locked = true;
    txtHostAdrs.SetText("       .      .      .");

    Place(cboComPort, "cboComPort", {3960, 1050, 975, 315},
          "Select the Com Port on this PC that is connected to your radio");
    Place(cboBaud, "cboBaud", {3960, 1365, 975, 315}, "Set the radio's Com Port baud rate here");
    Fill(cboBaud, {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600"});
    Place(cboBits, "cboBits", {3960, 1680, 975, 315}, "Set the radio's Com Port number of data bits here");
    Fill(cboBits, {"7", "8"});
    Place(txtHostName, "txtHostName", {1440, 1365, 1530, 315}, "The local PC's name appears here");
    txtHostName.locked = true;

    Place(cboClients, "cboClients", {1440, 3330, 765, 315},
          "How many programs may use the radio at once, taking turns (1 to 5)");
    Fill(cboClients, {"1", "2", "3", "4", "5"});
    Place(cboPttLine, "cboPttLine", {3960, 3330, 975, 315},
          "The modem line that keys the transmitter when PTT control is checked: "
          "RTS or DTR, as the interface is wired");
    Fill(cboPttLine, {"RTS", "DTR"});
    Place(txtAnswerWait, "txtAnswerWait", {1440, 3645, 765, 315},
          "With several programs: how long the radio may stay silent after a command "
          "before the next program's turn, 20 to 3000 milliseconds");
    txtAnswerWait.maxLength = 4;
    Place(txtTxLimit, "txtTxLimit", {3960, 3645, 975, 315},
          "The longest a program may keep the transmitter keyed by a CAT command or a "
          "remote serial port's RTS, 0 to 3600 seconds (0: no limit)");
    txtTxLimit.maxLength = 4;
    Place(txtRfc2217Port, "txtRfc2217Port", {1440, 3960, 765, 315},
          "Also serve the radio as a remote serial port (RFC 2217) on this TCP port; off: not served");
    txtRfc2217Port.maxLength = 5;
    Place(txtStatusPort, "txtStatusPort", {3960, 3960, 975, 315},
          "The TCP port of the status page; off: none");
    txtStatusPort.maxLength = 5;
    Place(cboCat, "cboCat", {1440, 4275, 1530, 315},
          "The command language the programs speak to the radio: auto (recognised per program), "
          "kenwood (Kenwood, Elecraft, newer Yaesu), civ (Icom CI-V), ft817 (Yaesu FT-817/857/897) or none");
    Fill(cboCat, {"auto", "kenwood", "civ", "ft817", "none"});
    Place(txtAllow, "txtAllow", {1440, 4590, 3495, 315},
          "Only programs at these addresses or networks may connect, with commas between them "
          "(192.168.1.0/24, 10.0.0.5, ::1), each with =monitor (reads only), =operate (never "
          "transmits) or =transmit (the default); the first that matches decides; any: every address");
    Place(txtTxAllowed, "txtTxAllowed", {1440, 4905, 3495, 315},
          "The transmitter keys only while the radio is inside these ranges in Hz, with commas "
          "between them (14000000-14350000, 7000000-7200000); anywhere: no check");
    Place(txtCacheMs, "txtCacheMs", {1440, 5220, 765, 315},
          "How long the radio's answer to a read answers the same read from any program "
          "without asking the radio again, 0 to 5000 milliseconds (0: every read to the radio)");
    txtCacheMs.maxLength = 4;
    Place(cboRadioReports, "cboRadioReports", {3960, 5220, 975, 315},
          "on: the radio reports its changes while the port is open (Kenwood AI2), keeping "
          "the shared reads fresh; each program's own AI setting stays its own");
    Fill(cboRadioReports, {"off", "on"});

    Caption(lblRmtAddress, "lblRmtAddress", "Rmt IP Adrs: ", {60, 2370, 1380, 195});
    Label2.name = "Label2";
    Label2.geometry = {60, 105, 1395, 930};
    Label2.align = Label::Align::Centre;
    Label2.bold = true;
    Label2.SetCaption(" OVRIN-SERVER                    Com Port TCP/IP Server");

    imgConn.name = "imgConn";
    imgConn.geometry = {1440, 105, 3465, 930};
    imgConn.SetPicture("initial");

    struct FieldCaption {
        int index;
        const char* caption;
        Geometry g;
    };
    static const FieldCaption kCaptions[] = {
        {51, "Connection Status: ", {30, 1110, 1395, 195}}, {100, "Host Name: ", {105, 1425, 1320, 195}},
        {12, "Host IP Adrs: ", {135, 1740, 1290, 195}},     {104, "Host IP Port: ", {405, 2055, 1020, 195}},
        {101, "Com Port: ", {2760, 1110, 1170, 195}},        {106, "Baud: ", {3465, 1425, 465, 195}},
        {107, "# Bits: ", {3435, 1740, 495, 195}},           {108, "Parity: ", {3450, 2055, 480, 195}},
        {109, "# Stop: ", {3360, 2370, 570, 195}},           {102, "Interbyte Timeout: ", {2415, 3900, 1320, 195}},
        {110, "Clients: ", {60, 3390, 1365, 195}},           {111, "PTT Line: ", {2235, 3390, 1695, 195}},
        {112, "Answer Wait ms: ", {60, 3705, 1365, 195}},    {113, "TX Limit s: ", {2235, 3705, 1695, 195}},
        {114, "RFC 2217 Port: ", {60, 4020, 1365, 195}},     {115, "Status Port: ", {2235, 4020, 1695, 195}},
        {116, "CAT Language: ", {60, 4335, 1365, 195}},      {117, "Allow: ", {60, 4650, 1365, 195}},
        {118, "TX Allowed Hz: ", {60, 4965, 1365, 195}},
        {119, "Cache ms: ", {60, 5280, 1365, 195}},          {120, "Radio Reports: ", {2235, 5280, 1695, 195}},
    };
    for (const auto& fc : kCaptions) {
        Label& label = Label1[fc.index];
        Caption(label, "Label1", fc.caption, fc.g);
        label.index = fc.index;
        label.hidden = fc.index == 102;
    }

    // Tab order of the focusable controls.
    Control* const tabOrder[] = {&txtHostName,   &txtHostAdrs,   &cboComPort,     &cboBaud,      &cboBits,
                                 &txtHostPort,   &cboConn,       &cboInterbyte,   &cboStop,      &cboParity,
                                 &chkRTS,        &chkDTR,        &chkComPortActiveInListen,      &chkCtrlPTT,
                                 &chkBridge,     &cboRmtAddress, &cboClients,     &cboPttLine,   &txtAnswerWait,
                                 &txtTxLimit,    &txtRfc2217Port, &txtStatusPort, &cboCat,       &txtAllow,
                                 &txtTxAllowed,  &txtCacheMs,    &cboRadioReports};
    int tab = 0;
    for (Control* c : tabOrder) c->tabIndex = tab++;
    const std::pair<const char*, Control*> fields[] = {
        {"clients", &cboClients},          {"ptt-line", &cboPttLine},       {"answer-wait", &txtAnswerWait},
        {"tx-limit", &txtTxLimit},         {"rfc2217-port", &txtRfc2217Port}, {"status-port", &txtStatusPort},
        {"cat", &cboCat},                  {"allow", &txtAllow},            {"tx-allowed", &txtTxAllowed},
        {"cache-ms", &txtCacheMs},         {"radio-reports", &cboRadioReports}};
    // Each field's caption, beside it, names it in messages ("Answer Wait ms").
    int captionIndex = 110;
    for (const auto& [option, control] : fields) {
        std::string caption = Trim(Label1.at(captionIndex++).Caption());
        if (!caption.empty() && caption.back() == ':') caption.pop_back();
        optionFields_.push_back({option, caption, *control, control->ToolTip()});
    }
    ShowSettings(InitialSettings());
    ShowConnectionState();
}

StationSettings frmMain::Settings() const {
    StationSettings s;
    s.hostPort = txtHostPort.Text();
    s.comPort = cboComPort.Text();
    s.interbyte = cboInterbyte.Text();
    s.baud = cboBaud.Text();
    s.dataBits = cboBits.Text();
    s.parity = cboParity.Text();
    s.stopBits = cboStop.Text();
    s.dtr = chkDTR.Value();
    s.rts = chkRTS.Value();
    s.keepPortOpen = chkComPortActiveInListen.Value();
    s.pttControl = chkCtrlPTT.Value();
    s.bridge = chkBridge.Value();
    s.options = station.settings.options;
    return s;
}

void frmMain::ShowSettings(const StationSettings& s) {
    txtHostPort.SetText(s.hostPort);
    cboComPort.SetText(s.comPort);
    cboInterbyte.SetText(s.interbyte);
    cboBaud.SetText(s.baud);
    cboBits.SetText(s.dataBits);
    cboParity.SetText(s.parity);
    cboStop.SetText(s.stopBits);
    chkDTR.ShowValue(s.dtr);
    chkRTS.ShowValue(s.rts);
    chkComPortActiveInListen.ShowValue(s.keepPortOpen);
    chkCtrlPTT.ShowValue(s.pttControl);
    chkBridge.ShowValue(s.bridge);
    ShowOptions(s.options);
    PassSettings();
}

void frmMain::TakeOptions(const ServerOptions& o) {
    station.TakeOptions(o);
    const std::string line = LineName(o.pttLine);
    chkCtrlPTT.caption = "Control " + line + " as PTT";
    chkCtrlPTT.SetToolTip("Ovrin-Remote controls " + line + " as PTT");
}

void frmMain::ShowOptions(const ServerOptions& o) {
    TakeOptions(o);
    for (const OptionField& field : optionFields_) {
        const std::string text = OptionText(o, field.option);
        if (auto* combo = dynamic_cast<ComboBox*>(&field.control)) combo->SetText(field.option == std::string("ptt-line") ? UpperCase(text) : text);
        else if (auto* box = dynamic_cast<TextBox*>(&field.control)) box->SetText(text);
        field.control.SetToolTip(field.toolTip);
    }
}

std::string frmMain::OptionField::Text() const {
    if (const auto* combo = dynamic_cast<const ComboBox*>(&control)) return combo->Text();
    if (const auto* box = dynamic_cast<const TextBox*>(&control)) return box->Text();
    return {};
}

void frmMain::ShowConnectionState() {
    switch (station.state.Mode()) {
        case ServerMode::OffLine: cboConn.SetText(kConnOffLine); break;
        case ServerMode::Listening: cboConn.SetText(kConnListen); break;
        case ServerMode::Serving: cboConn.SetText("ON-LINE"); break;
    }
}

std::vector<Control*> frmMain::Controls() {
    std::vector<Control*> all{&cboRmtAddress, &chkBridge,   &chkCtrlPTT,     &chkComPortActiveInListen,
                              &chkDTR,        &chkRTS,      &cboParity,      &cboStop,
                              &cboInterbyte,  &cboConn,     &txtHostPort,    &txtHostAdrs,
                              &cboComPort,    &cboBaud,     &cboBits,        &txtHostName,
                              &cboClients,    &cboPttLine,  &txtAnswerWait,  &txtTxLimit,
                              &txtRfc2217Port, &txtStatusPort, &cboCat,      &txtAllow,      &txtTxAllowed,
                              &txtCacheMs,    &cboRadioReports,
                              &lblRmtAddress, &Label2,      &imgConn};
    for (auto& [index, label] : Label1) all.push_back(&label);
    return all;
}

std::vector<Timer*> frmMain::Timers() {
    Station& s = station;
    DataPath& p = s.path;
    std::vector<Timer*> all{&s.tmrRx,        &p.tmrActivePort, &s.tmrPTT,        &tmrPicture,      &s.tmrReopen,
                            &p.tmrRxGap,     &p.tmrRxBlock,    &p.tmrAnswerWait, &s.tmrLineSettle, &s.tmrModemLines,
                            &s.tmrClientLog, &s.tmrNotReading, &s.tmrDevice,     &s.tmrReadAgain,  &p.tmrReportWait};
    for (Timer& t : s.tmrHold) all.push_back(&t);
    return all;
}

std::map<std::string, Control*> frmMain::ControlsByName() {
    std::map<std::string, Control*> all;
    for (Control* c : Controls())
        if (c->index < 0) all[c->name] = c;
    return all;
}

}  // namespace ovrin
