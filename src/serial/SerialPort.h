#pragma once
#include "model/frmMain.h"

namespace ovrin {

// The highest COM number: Windows numbers USB adapters on up to it.
inline constexpr int16_t kLastComPort = 256;

void OpenComPort(frmMain& f, bool& OpenFailed);
void CloseComPort(frmMain& f);
// Closes an open port with the PTT line dropped first (a keyed transmitter released);
// throws when the close fails.
void ClosePortDroppingRts(frmMain& f);

// The settings text from the window ("9600,n,8,2") and the port number of a port text.
std::string ParityLetter(const std::string& parityText);
std::string LineSettingsText(const frmMain& f);
int16_t PortNumber(const std::string& portText);  // throws when the rest is no number

// The device went away while open: release PTT, say so, and try it again every
// second for as long as the port should be open.
void comPort_Lost(frmMain& f, const std::string& why);
void tmrReopen_Timer(frmMain& f);
// The chosen port at start: a device that is not there is told, with its name and
// path, and looked for until it comes (also told), another port is chosen or the
// port is open.
void CheckPortDevice(frmMain& f);
void tmrDevice_Timer(frmMain& f);
// A problem of the serial port for the window to show without a message box
// (PortProblemChanged). "" clears it.
void ShowPortProblem(frmMain& f, const std::string& problem);

// The PTT line: a client's key and release (the in-band command, a remote serial
// port client's line); false when another one owns the transmitter.
bool KeyPTT(frmMain& f, const Connection& c, KeyWay way);
bool ReleasePTT(frmMain& f, const Connection& c, KeyWay way);
// The watchdog or the transmit limit: the key drops at once, whatever else runs.
void tmrPTT_Timer(frmMain& f);
// Drops a keyed transmitter when nobody is left to release it, or when its port
// is about to close (`portClosing`: a CAT release is written at once).
void ReleasePTTIfKeyed(frmMain& f, const std::string& why, bool portClosing = false);
// After the event loop: the end of the process would close the port as well, but
// only an explicit close drops the PTT line first.
void ReleasePort(CommControl& com, PttLine line);

}  // namespace ovrin
