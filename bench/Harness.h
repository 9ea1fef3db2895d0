#pragma once
// Drives real processes from outside for the fault, load and speed runs: a
// pseudo-terminal radio, the built server in a temporary program folder, helper
// processes (radio simulator, ser2net), loopback TCP clients, /proc figures.
#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace ovrin::bench {

using Bytes = std::string;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start);
void SleepMs(double ms);

// Children are killed when this process ends in any way: a signal handler kills
// every child still registered, and each child dies with its parent (PDEATHSIG).
void InstallCleanup();

// A folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A child process; stdout and stderr go to `logFile` (or /dev/null), unless
// `pipeStdout`, then stdout can be read line by line. `env` entries NAME=value are
// set, a bare NAME is removed.
class Child {
public:
    Child() = default;
    Child(const std::vector<std::string>& argv, const std::string& logFile, bool pipeStdout = false,
          const std::vector<std::string>& env = {});
    ~Child();
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;

    pid_t Pid() const { return pid_; }
    bool Running();
    std::string ReadLine(int ms);
    // `sig`, then SIGKILL after `ms`; the exit status, 128+signal, or -1 if it had to be killed.
    int Terminate(int ms, int sig = SIGTERM);
    void Kill();
    // Ended on its own: its status as above, or -2 while it still runs.
    int ExitStatus();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -2;
};

// The radio's end of a pseudo-terminal; the server opens the other end.
class PtyRadio {
public:
    PtyRadio();
    ~PtyRadio();
    PtyRadio(const PtyRadio&) = delete;
    PtyRadio& operator=(const PtyRadio&) = delete;
    const std::string& Device() const { return device_; }
    int Fd() const { return master_; }
    void Write(const Bytes& data, int ms = 5000);
    // Everything that arrives until `want` bytes are in or `ms` pass.
    Bytes Read(std::size_t want, int ms);
    // What is there now, at most `max` bytes, without waiting.
    Bytes ReadNow(std::size_t max);
    // Unplugs the device: both ends closed, as when a USB adapter is pulled.
    void Remove();

private:
    int master_ = -1;
    int slaveKeepAlive_ = -1;
    std::string device_;
};

class TcpClient {
public:
    explicit TcpClient(int port);
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;
    bool Connected() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    bool Send(const Bytes& data, int ms = 5000);
    Bytes Read(std::size_t want, int ms);
    // Reads until a block ends with `last`; empty on a timeout.
    Bytes ReadUntil(char last, int ms);
    // One read of whatever has come, after waiting up to `ms` for the first byte.
    Bytes ReadSome(int ms);
    // True when the server ends the connection within `ms` (data that arrives
    // first is discarded).
    bool WaitEnd(int ms);
    void Close();

private:
    int fd_ = -1;
};

struct ProcStats {
    double cpuSeconds = 0;    // utime + stime of all threads, /proc/PID/stat
    double schedSeconds = 0;  // time on a CPU, summed over /proc/PID/task/*/schedstat (ns resolution)
    long rssKb = 0;           // VmRSS
    long hwmKb = 0;           // VmHWM, the peak resident set
    long anonKb = 0;          // RssAnon: the heap and stacks, without the program's mapped files
    int fds = 0;              // entries of /proc/PID/fd
    int threads = 0;
};
ProcStats ReadStats(pid_t pid);

// The built server in a fresh program folder, run --headless with no display.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& executable);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    const std::string& Folder() const { return dir_.Path(); }
    std::string SettingsPath() const { return Folder() + "/Ovrin-Bridge.ini"; }
    std::string ComLink(int n) const { return Folder() + "/dosdevices/com" + std::to_string(n); }
    // A settings file: Listen at start on `port`, COM1 9600,n,8,2, port kept open while listening.
    void WriteSettings(int port) const;
    void LinkCom(int n, const std::string& device) const;
    void UnlinkCom(int n) const;
    void Start(const std::vector<std::string>& options = {});
    pid_t Pid() const { return child_.Pid(); }
    bool Running() { return child_.Running(); }
    int Terminate(int ms, int sig = SIGTERM) { return child_.Terminate(ms, sig); }
    int ExitStatus() { return child_.ExitStatus(); }
    std::string Log() const;

private:
    TempDir dir_;
    Child child_;
};

// A socket in LISTEN state on the port, read from /proc/net/tcp and tcp6: no
// connection is made, so a server that takes one client at a time is not disturbed.
// `localAddress`, when given, receives the socket's address as the table writes it
// (0100007F for 127.0.0.1).
long ListeningInode(int port, std::string* localAddress = nullptr);
bool IsListening(int port);
// Waits for a listening socket that stays; the server's start-up port test listens
// and closes for a few milliseconds first, and a client connecting then is reset.
// `firstSeenMs`: when the socket that stayed was first seen, from the call.
constexpr double kListenSettleMs = 100;
bool WaitListening(int port, int ms, double* firstSeenMs = nullptr);
int FreeTcpPort();

struct Summary {
    std::size_t n = 0;
    double min = 0, p50 = 0, p90 = 0, p99 = 0, max = 0, mean = 0;
};
Summary Summarize(std::vector<double> values);
std::string Describe(const Summary& s);  // "p50 x  p90 x  p99 x  max x ms (n=...)"

// Deterministic bytes, so a receiver can check a long stream without keeping it.
class ByteStream {
public:
    explicit ByteStream(std::uint64_t seed) : state_(seed ? seed : 1) {}
    char Next();
    Bytes Take(std::size_t n);

private:
    std::uint64_t state_;
};

// PASS/FAIL lines and the exit status of a run.
class Verdicts {
public:
    void Add(bool pass, const std::string& name, const std::string& figure);
    int ExitCode() const { return failed_ ? 1 : 0; }

private:
    int failed_ = 0;
};

}  // namespace ovrin::bench
