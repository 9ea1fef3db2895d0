#pragma once
#include "model/Station.h"

namespace ovrin {

enum class PttCommand { None, Key, Release, Other };
// ESC ESC "ATH" + one byte, exactly six bytes; anything else is data.
PttCommand ClassifyPtt(const Bytes& block);

// "Control RTS as PTT" is checked, or the user checks it when asked (once a run).
bool RtsControlAllowed(Station& station);

void tcpServer_DataArrival(Station& station, int16_t Index, int32_t bytesTotal);
// Reads again from clients paused by a full serial backlog or by the RTS question,
// once the backlog has drained and the question is answered: posted (tmrReadAgain),
// so that no read is handled inside the handler that found it may go.
void ResumePausedReads(Station& station);
void tmrReadAgain_Timer(Station& station);
// The receive poll is a safety net for the arrival and drain events: quick while
// a client's read waits for the serial line, slow otherwise, so that a connected
// client that sends nothing costs nothing.
inline constexpr int kBusyPollMs = 50, kIdlePollMs = 1000;
void PaceReceivePoll(Station& station);
// Closes the clients that read nothing of what waits for them (model/Outbound.h).
void tmrNotReading_Timer(Station& station);

}  // namespace ovrin
