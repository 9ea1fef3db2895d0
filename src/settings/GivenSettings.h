#pragma once
// Settings given for a run from outside the window (the command line). The settings
// load types them into their controls, as a user would before choosing Listen,
// right before it selects the stored connection state; the next save keeps them.
#include <string>

namespace ovrin {

struct frmMain;

struct GivenSettings {
    // Texts as the boxes hold them ("50001", "COM3", "4800", "Even", "7", "1"); empty: not given.
    std::string hostPort, comPort, baud, parity, dataBits, stopBits;
    // Check-box values 0 or 1; -1: not given.
    int dtr = -1, rts = -1, pttControl = -1, keepPortOpen = -1;
};

// The check boxes given take exactly the given values. The window's rules between
// them (checking "Control RTS as PTT" clears "RTS:" and "Com Port active in Listen
// Mode", and so on) still act on the boxes not given.
void TypeGivenSettings(frmMain& f);

}  // namespace ovrin
