#pragma once
#include <optional>
#include <string>

#include "model/frmMain.h"

namespace ovrin {

// Connects every control, timer and socket event of the window to its handler.
void WireEvents(frmMain& f);

// "1.10.01": minor and revision padded to two digits, the major never.
std::string BuildVersionText(int major, int minor, int revision);
// "Ovrin-Server v1.10.01": the window's caption, also what --version and the log say.
std::string VersionCaption(int major, int minor, int revision);

// The serial facility's events: bytes from the radio, and output gone to the line
// (reads paused by a full backlog resume).
void comPort_OnComm(frmMain& f, CommEvent Event);
// The receive poll: bytes that came without an event, paused reads resumed.
void tmrRx_Timer(frmMain& f);

void Form_Load(frmMain& f);
// Why a run without a window must not start: an allow-list that cannot be read
// (it would serve nobody, and nobody would see why); nothing when it may.
std::optional<std::string> AllowListRefusal(const frmMain& f);
void Form_Unload(frmMain& f);
void Form_Terminate(frmMain& f);

}  // namespace ovrin
