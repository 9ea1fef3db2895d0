#pragma once
#include "model/frmMain.h"

namespace ovrin {

enum class PttCommand { None, Key, Release, Other };
// ESC ESC "ATH" + one byte, exactly six bytes; anything else is data.
PttCommand ClassifyPtt(const Bytes& block);

// "Control RTS as PTT" is checked, or the user checks it when asked (once a run).
bool RtsControlAllowed(frmMain& f);

void tcpServer_DataArrival(frmMain& f, int16_t Index, int32_t bytesTotal);
// Reads again from clients paused by a full serial backlog or by the RTS question,
// once the backlog has drained and the question is answered.
void ResumePausedReads(frmMain& f);
// Closes the clients that read nothing of what waits for them (model/Outbound.h).
void tmrNotReading_Timer(frmMain& f);

}  // namespace ovrin
