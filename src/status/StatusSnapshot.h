#pragma once
// What the status page shows, as one plain value: made on the event loop from the
// window model, handed to the page's server thread, and rendered there as HTML and
// JSON. It holds copies only, so the server never reaches into the running system.
#include <cstdint>
#include <string>
#include <vector>

namespace ovrin::status {

struct ClientStatus {
    std::string label;    // "Client 192.0.2.7 (slot 1, connection 3)"
    std::string address;  // "192.0.2.7"
    int slot = 0;
    uint64_t connection = 0;
    bool remoteSerialPort = false;  // RFC 2217, else the raw port
    std::string language;           // "Kenwood", "not known yet", ...
    int64_t connectedWallMs = 0;
    int64_t connectedForMs = 0;
    uint64_t bytesIn = 0;   // from the client
    uint64_t bytesOut = 0;  // to the client
    std::string role;       // "monitor", "operate", "transmit"
    // Its commands, those answered without the radio (from a read in hand, or
    // merged into another's on its way), and the last few different ones.
    uint64_t commands = 0, cached = 0, merged = 0;
    std::vector<std::string> asked;
};

struct TransmissionStatus {
    std::string client, how;
    int64_t startedWallMs = 0;
    int64_t lastedMs = 0;  // so far, while it lasts
    bool ongoing = false;
    std::string ended;  // how it ended
    std::string role;       // the keyer's
    std::string frequency;  // at the key ("14.074000 MHz"); empty: not known
};

enum class LogSeverity { Info, Warning, Error };

struct LogLine {
    int64_t wallMs = 0;
    LogSeverity severity = LogSeverity::Info;
    std::string text;
};

struct StatusSnapshot {
    std::string version;    // "Ovrin-Server v1.10.01"
    std::string hostName;   // this computer's name, as the window shows it
    int64_t wallMs = 0;     // when it was made
    enum class State { OffLine, Listening, OnLine } state = State::OffLine;
    int listenPort = 0;          // the raw port
    int remoteSerialPort = 0;    // the RFC 2217 port; 0: none
    int clientsAllowed = 1;

    struct Serial {
        std::string name;     // "COM1"
        std::string device;   // "/dev/ttyUSB0" where the platform tells it
        std::string line;     // "9600,n,8,2"
        bool open = false;
        std::string problem;  // why it is not open when it should be, or was lost
        bool keptOpen = false;  // "Com Port active in Listen Mode"
        std::string pttLine;  // "RTS" or "DTR" while PTT control is on, else empty
    } serial;

    std::vector<ClientStatus> clients;
    // The radio's load: commands written to it per second (the last 10 s), and
    // the reads answered without it since the program started.
    struct Radio {
        double commandsPerSecond = 0;
        uint64_t sent = 0, cached = 0, merged = 0;  // shared reads written; answered from one in hand; merged
        int cacheMs = 0;
        bool reports = false;
    } radio;
    bool keyed = false;
    TransmissionStatus transmitting;  // while keyed
    std::vector<TransmissionStatus> transmissions;  // the last ones, newest last
    std::vector<LogLine> log;  // the last lines, newest last
};

// "Off-line", "Listening", "ON-LINE": as the window's status list says it.
std::string StateText(StatusSnapshot::State state);

}  // namespace ovrin::status
