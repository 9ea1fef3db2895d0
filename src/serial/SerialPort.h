#pragma once
#include "model/Station.h"

namespace ovrin {

// The highest COM number: Windows numbers USB adapters on up to it.
inline constexpr int16_t kLastComPort = 256;

void OpenComPort(Station& station, bool& OpenFailed);
void CloseComPort(Station& station);
// Closes an open port with the PTT line dropped first (a keyed transmitter released);
// throws when the close fails.
void ClosePortDroppingRts(Station& station);

// The settings text from the window ("9600,n,8,2") and the port number of a port text.
std::string ParityLetter(const std::string& parityText);
std::string LineSettingsText(const Station& station);
int16_t PortNumber(const std::string& portText);  // throws when the rest is no number
// Sets the port's line ("9600,n,8,2") and gives the data path its timing; throws,
// the line unchanged, when the facility refuses it.
void SetPortLine(Station& station, const std::string& settings);

// The device went away while open: release PTT, say so, and try it again every
// second for as long as the port should be open.
void comPort_Lost(Station& station, const std::string& why);
void tmrReopen_Timer(Station& station);
// The chosen port at start: a device that is not there is told, with its name and
// path, and looked for until it comes (also told), another port is chosen or the
// port is open.
void CheckPortDevice(Station& station);
void tmrDevice_Timer(Station& station);
// A problem of the serial port for the window to show without a message box
// (PortProblemChanged). "" clears it.
void ShowPortProblem(Station& station, const std::string& problem);

// The PTT line: a client's key and release (the in-band command, a remote serial
// port client's line); false when another one owns the transmitter.
bool KeyPTT(Station& station, const Connection& c, KeyWay way);
bool ReleasePTT(Station& station, const Connection& c, KeyWay way);
// The watchdog or the transmit limit: the key drops at once, whatever else runs.
void tmrPTT_Timer(Station& station);
// Drops a keyed transmitter when nobody is left to release it, or when its port
// is about to close (`portClosing`: a CAT release is written at once).
void ReleasePTTIfKeyed(Station& station, const std::string& why, bool portClosing = false);
// After the event loop: the end of the process would close the port as well, but
// only an explicit close drops the PTT line first.
void ReleasePort(CommControl& com, PttLine line);

}  // namespace ovrin
