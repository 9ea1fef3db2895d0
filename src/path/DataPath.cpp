#include "path/DataPath.h"

#include <algorithm>
#include <utility>

namespace ovrin {
namespace {

// How long the release of a CAT key may take to leave before the port closes.
constexpr int kReleaseDrainMs = 500;

}  // namespace

DataPath::DataPath(RadioPort& port, ClientSink& clients, const ServerOptions& options)
    : port_(port), clients_(clients), options_(options) {
    tmrActivePort.Tick = [this] { TurnLimit(); };
    tmrAnswerWait.Tick = [this] { AnswerWaitOver(); };
    tmrRxGap.Tick = [this] { EndRadioBlock(true); };
    tmrRxBlock.Tick = [this] { EndRadioBlock(false); };
    tmrReportWait.Tick = [this] { ReportWaitOver(); };
}

void DataPath::LineChanged(const std::string& settings) { framing_.LineChanged(settings); }

void DataPath::Deliver(const std::vector<Turns::Delivery>& deliveries) {
    // One write per client: the pieces of one read go out together, in order.
    std::vector<Turns::Delivery> merged;
    for (const auto& d : deliveries) {
        auto same = std::find_if(merged.begin(), merged.end(), [&](const Turns::Delivery& m) { return m.to == d.to; });
        if (same == merged.end()) merged.push_back(d);
        else same->data += d.data;
    }
    for (const auto& d : merged) clients_.Deliver(d.to, d.data);
}

// Reads what waits and hands it to the turns.
void DataPath::PassOnRadioData(bool lineQuiet) {
    const Bytes data = port_.Input();
    // A quiet line also settles a held start of the echo.
    if (!data.empty() || lineQuiet) Deliver(turns.RadioData(data, lineQuiet));
}

// The time the command takes on the line, then the answer wait. A turn in a known
// language waits for the answer wait only for commands the tables cannot place;
// commands that get no answer end it once they are on the line.
void DataPath::StartAnswerWait(std::size_t written) {
    // What still waits to go out goes first.
    written = std::max(written, static_cast<std::size_t>(std::max(port_.OutCount(), 0)));
    const auto onLineMs = static_cast<int>((static_cast<int64_t>(written) * framing_.CharacterMicroseconds() + 999) / 1000);
    const bool wait = !turns.TurnKnown() || turns.AwaitsMaybe();
    tmrAnswerWait.Stop();
    tmrAnswerWait.SetInterval(std::max(1, (wait ? options_.answerWaitMs : 0) + onLineMs));
    tmrAnswerWait.Start();
}

void DataPath::WriteBlock(const Turns::Write& w, bool newTurn) {
    port_.Write(w.data);
    if (newTurn) {
        tmrActivePort.Stop();
        tmrActivePort.Start();
    }
    StartAnswerWait(w.data.size());
}

void DataPath::TurnEnded() {
    tmrActivePort.Stop();
    tmrAnswerWait.Stop();
    DispatchNextPending();
}

void DataPath::EndRadioBlock(bool lineQuiet) {
    tmrRxBlock.Stop();
    if (lineQuiet) tmrRxGap.Stop();
    PassOnRadioData(lineQuiet);
    if (lineQuiet && turns.AnswerComplete()) TurnEnded();
}

// Reads that wait for a report the radio has begun give it up once the line has
// been silent for the answer wait: counted from its last byte, or from the read
// when the radio said nothing since.
void DataPath::WatchReport(bool heard) {
    if (!turns.Listening()) {
        tmrReportWait.Stop();
        return;
    }
    if (heard) tmrReportWait.Stop();
    const int wait = std::max(1, options_.answerWaitMs);
    if (tmrReportWait.Interval() != wait) tmrReportWait.SetInterval(wait);
    tmrReportWait.Start();  // a running count goes on
}

void DataPath::ReportWaitOver() {
    tmrReportWait.Stop();
    Deliver(turns.LineQuiet());
    // Those it sent to the radio.
    if (!turns.TurnOpen() && turns.AnyParked()) DispatchNextPending();
}

// Radio data are framed as they arrive: each arrival restarts the quiet-gap timer
// and starts the block-age timer. When the gap passes, the block is complete; at
// the age limit what has come is passed on and the block goes on.
void DataPath::FrameArrival() {
    // What the device holds back matters only for when a turn passes to another client.
    const int32_t latency = clients_.Count() > 1 ? port_.DeliveryLatencyMs() : 0;
    const int gap = framing_.Arrived(!tmrRxBlock.Enabled(), latency);
    if (tmrRxGap.Interval() != gap) tmrRxGap.SetInterval(gap);
    tmrRxGap.Stop();
    tmrRxGap.Start();
    tmrRxBlock.Start();  // a block already growing keeps its age
}

void DataPath::Submit(ConnectionId from, Turns::Block block, bool first) {
    if (!port_.IsOpen()) return;
    const bool newTurn = !turns.TurnOpen();
    // What the radio said before this block is written is not its answer.
    if (newTurn) PassOnRadioData(true);
    if (auto w = turns.Submit(from, std::move(block), first)) WriteBlock(*w, newTurn);
    else DispatchNextPending();  // behind blocks that waited for the port
    Deliver(turns.TakeReady());  // answers that needed no radio
    WatchReport(false);
}

void DataPath::Submit(ConnectionId from, Bytes data, bool echoed) {
    Submit(from, Turns::Block{std::move(data), echoed, cat::Language::None, {}, {}});
}

void DataPath::WriteCatRelease(const Bytes& release, bool now) {
    if (!port_.IsOpen()) return;
    if (now) {
        port_.Write(release);
        port_.Drain(kReleaseDrainMs);
        return;
    }
    const cat::Language language = turns.RadioLanguage();
    cat::ClientReader reader(language);
    Turns::Block block{{}, true, language, {}, {}};
    for (const cat::Command& c : reader.Feed(release)) block.Add(c.bytes, c.answer);
    // A release in another language than the radio's (clients of both) goes whole.
    if (Bytes rest = reader.TakeHeld(); !rest.empty()) block.Add(rest, {});
    Submit(kServerWrites, std::move(block), true);
}

bool DataPath::Accepts(ConnectionId id) {
    return port_.OutCount() < kMaxSerialBacklog && turns.ParkedBytes(id) < kMaxParked &&
           turns.ParkedCommands(id) < kMaxParkedCommands && !clients_.QueueFull(id);
}

void DataPath::DispatchNextPending() {
    if (turns.TurnOpen() || !port_.IsOpen()) return;
    PassOnRadioData(true);
    if (auto w = turns.NextParked()) WriteBlock(*w, true);
    Deliver(turns.TakeReady());  // answers the turn's end let go, reads answered while they waited
}

void DataPath::TurnLimit() {
    PassOnRadioData(false);  // what has come so far is still the holder's
    Deliver(turns.EndTurn());
    TurnEnded();
}

void DataPath::AnswerWaitOver() {
    tmrAnswerWait.Stop();
    // A block being gathered may be the answer: look again once it is in.
    if (tmrRxGap.Enabled()) tmrAnswerWait.Start();
    else if (turns.AnswerWaitOver()) TurnEnded();
    Deliver(turns.TakeReady());
}

void DataPath::RadioBytesCame() {
    // A remote serial port client alone on the radio gets its bytes as they are
    // read: with nobody to share the port with, there is no turn to frame.
    if (clients_.SoleComPortClient() && !tmrRxGap.Enabled()) {
        PassOnRadioData(true);
        if (turns.AnswerComplete()) TurnEnded();
        return;
    }
    // In a known language each answer goes as soon as it is whole; the quiet line
    // still passes on a piece of unasked output that never finishes.
    if (turns.Framed()) {
        PassOnRadioData(false);
        if (turns.AnswerComplete()) TurnEnded();
        else if (!turns.TurnOpen() && turns.AnyParked()) DispatchNextPending();  // a read a report dropped
        WatchReport(true);
    }
    FrameArrival();
}

void DataPath::Poll() {
    // Bytes that came without an arrival event start a block here; a block still
    // being gathered is left to its own timers.
    if (!tmrRxGap.Enabled() && RadioBytesWaiting()) FrameArrival();
}

void DataPath::Join(ConnectionId id) {
    // What the radio said before it came is not for it.
    if (tmrRxGap.Enabled() || RadioBytesWaiting()) PassOnRadioData(false);
    Deliver(turns.Join(id));
}

void DataPath::Leave(ConnectionId id) {
    const bool held = turns.TurnOpen();
    turns.Leave(id);
    if (held && !turns.TurnOpen()) TurnEnded();
}

void DataPath::Reset() {
    turns.Reset();
    tmrActivePort.Stop();
    tmrAnswerWait.Stop();
    tmrReportWait.Stop();
}

}  // namespace ovrin
