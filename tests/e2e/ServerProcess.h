#pragma once
// Helpers that drive the built program from outside: a temporary program folder,
// a pseudo-terminal standing in for the radio, the server process, TCP clients.
#include <sys/types.h>

#include <string>

namespace ovrin::e2e {

using Bytes = std::string;

// The radio's end of a pseudo-terminal; the server opens the other end.
class PtyRadio {
public:
    PtyRadio();
    ~PtyRadio();
    const std::string& Device() const { return device_; }
    void Write(const Bytes& data);
    // Everything that arrives until `want` bytes are in or `ms` pass.
    Bytes Read(std::size_t want, int ms);
    void CloseMaster();

private:
    int master_ = -1;
    int slaveKeepAlive_ = -1;
    std::string device_;
};

class TcpClient {
public:
    explicit TcpClient(int port);
    ~TcpClient();
    bool Connected() const { return fd_ >= 0; }
    void Send(const Bytes& data);
    Bytes Read(std::size_t want, int ms);
    // True when the server ends the connection within `ms`.
    bool SeesEndWithin(int ms);

private:
    int fd_ = -1;
};

// A program folder in /tmp with a copy of the server, started offscreen.
class ServerProcess {
public:
    ServerProcess();
    ~ServerProcess();
    const std::string& Folder() const { return folder_; }
    std::string SettingsPath() const { return folder_ + "/Ovrin-Bridge.ini"; }
    void LinkCom(int n, const std::string& device);
    void Start();
    // Waits until the port accepts connections.
    bool WaitListening(int port, int ms);
    // Asks the program to close its window as a user would; returns its exit status.
    int Close(int ms);

private:
    std::string folder_;
    pid_t pid_ = -1;
};

int FreeTcpPort();
bool PortIsFree(int port);

}  // namespace ovrin::e2e
