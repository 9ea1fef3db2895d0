#include "Harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "record/SettingsRecord.h"

namespace ovrin::bench {
namespace fs = std::filesystem;

namespace {

// Fixed-size and lock-free, so the signal handler may walk it.
constexpr int kMaxChildren = 64;
volatile pid_t g_children[kMaxChildren] = {};

void Register(pid_t pid) {
    for (auto& slot : g_children)
        if (slot == 0) {
            slot = pid;
            return;
        }
}

void Unregister(pid_t pid) {
    for (auto& slot : g_children)
        if (slot == pid) slot = 0;
}

// Each child leads its own process group, so whatever it started goes too.
void KillRegistered() {
    for (auto& slot : g_children)
        if (slot > 0) {
            kill(-slot, SIGKILL);
            kill(slot, SIGKILL);
        }
}

extern "C" void OnFatalSignal(int sig) {
    KillRegistered();
    _exit(128 + sig);
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

int MsLeft(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

Clock::time_point After(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads until `want` bytes, `ms` pass, or the end; `stop` ends early on a byte.
Bytes ReadFd(int fd, std::size_t want, int ms, int stop = -1) {
    Bytes got;
    const auto until = After(ms);
    while (got.size() < want) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, MsLeft(until));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buf[65536];
        const std::size_t room = std::min(sizeof buf, want - got.size());
        const ssize_t n = read(fd, buf, room);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
        if (stop >= 0 && got.back() == static_cast<char>(stop)) break;
    }
    return got;
}

bool WriteFd(int fd, const Bytes& data, int ms) {
    std::size_t done = 0;
    const auto until = After(ms);
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == ENOTSOCK) {
            const ssize_t w = write(fd, data.data() + done, data.size() - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (Clock::now() >= until) return false;
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, MsLeft(until));
    }
    return true;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

long StatusKb(const std::string& status, const char* key) {
    const auto at = status.find(key);
    if (at == std::string::npos) return 0;
    return std::strtol(status.c_str() + at + std::strlen(key), nullptr, 10);
}

}  // namespace

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void SleepMs(double ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

void InstallCleanup() {
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::atexit(KillRegistered);
}

TempDir::TempDir(const std::string& tag) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ovrin-" + tag + "-XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

Child::Child(const std::vector<std::string>& argv, const std::string& logFile, bool pipeStdout,
             const std::vector<std::string>& env) {
    int pipeFds[2] = {-1, -1};
    if (pipeStdout && pipe2(pipeFds, O_CLOEXEC) != 0) Fail("pipe");
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) Fail("fork");
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        setpgid(0, 0);  // a Ctrl+C reaches the driver only; it ends the children itself
        for (const std::string& e : env) {
            if (e.find('=') == std::string::npos) unsetenv(e.c_str());
            else putenv(strdup(e.c_str()));
        }
        const int log = open(logFile.empty() ? "/dev/null" : logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int nul = open("/dev/null", O_RDONLY);
        dup2(nul, 0);
        dup2(pipeStdout ? pipeFds[1] : log, 1);
        dup2(log, 2);
        close_range(3, ~0U, 0);  // nothing of the driver's leaks into the child
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    Register(pid_);
    if (pipeStdout) {
        close(pipeFds[1]);
        out_ = pipeFds[0];
    }
}

Child::~Child() {
    if (pid_ > 0) Kill();
    if (out_ >= 0) close(out_);
}

Child::Child(Child&& other) noexcept { *this = std::move(other); }

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) Kill();
        if (out_ >= 0) close(out_);
        pid_ = std::exchange(other.pid_, -1);
        out_ = std::exchange(other.out_, -1);
        status_ = std::exchange(other.status_, -2);
    }
    return *this;
}

bool Child::Running() { return ExitStatus() == -2; }

int Child::ExitStatus() {
    if (pid_ <= 0) return status_;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return -2;
    Unregister(pid_);
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

std::string Child::ReadLine(int ms) {
    std::string line;
    const auto until = After(ms);
    while (out_ >= 0) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, MsLeft(until)) <= 0) break;
        char c;
        if (read(out_, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    return line;
}

int Child::Terminate(int ms, int sig) {
    if (pid_ <= 0) return status_;
    kill(pid_, sig);
    const auto until = After(ms);
    while (Clock::now() < until) {
        const int status = ExitStatus();
        if (status != -2) return status;
        SleepMs(5);
    }
    Kill();
    return -1;
}

void Child::Kill() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    Unregister(pid_);
    pid_ = -1;
    status_ = 128 + SIGKILL;
}

PtyRadio::PtyRadio() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) Fail("pseudo-terminal");
    device_ = ptsname(master_);
    SetNonBlocking(master_);
    // Held open so the master never sees a hang-up between the server's opens;
    // raw so nothing is echoed or translated before the server sets the line up.
    slaveKeepAlive_ = open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeepAlive_ < 0) Fail("open " + device_);
    termios t{};
    tcgetattr(slaveKeepAlive_, &t);
    cfmakeraw(&t);
    tcsetattr(slaveKeepAlive_, TCSANOW, &t);
}

PtyRadio::~PtyRadio() { Remove(); }

void PtyRadio::Remove() {
    if (master_ >= 0) close(master_);
    if (slaveKeepAlive_ >= 0) close(slaveKeepAlive_);
    master_ = slaveKeepAlive_ = -1;
}

void PtyRadio::Write(const Bytes& data, int ms) {
    if (!WriteFd(master_, data, ms)) throw std::runtime_error("radio: write to the pseudo-terminal failed");
}

Bytes PtyRadio::Read(std::size_t want, int ms) { return ReadFd(master_, want, ms); }

Bytes PtyRadio::ReadNow(std::size_t max) {
    Bytes got(max, '\0');
    const ssize_t n = read(master_, got.data(), max);
    got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return got;
}

TcpClient::TcpClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SetNonBlocking(fd_);
}

TcpClient::~TcpClient() { Close(); }

void TcpClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool TcpClient::Send(const Bytes& data, int ms) { return fd_ >= 0 && WriteFd(fd_, data, ms); }
Bytes TcpClient::Read(std::size_t want, int ms) { return ReadFd(fd_, want, ms); }
Bytes TcpClient::ReadUntil(char last, int ms) {
    Bytes got = ReadFd(fd_, 1 << 20, ms, static_cast<unsigned char>(last));
    return !got.empty() && got.back() == last ? got : Bytes();
}

Bytes TcpClient::ReadSome(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&p, 1, ms) <= 0) return {};
    char buf[65536];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? Bytes(buf, static_cast<std::size_t>(n)) : Bytes();
}

bool TcpClient::WaitEnd(int ms) {
    const auto until = After(ms);
    while (fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, MsLeft(until));
        if (ready <= 0) return false;
        char buf[4096];
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
    }
    return true;
}

ProcStats ReadStats(pid_t pid) {
    ProcStats s;
    const std::string proc = "/proc/" + std::to_string(pid);
    const std::string stat = ReadText(proc + "/stat");
    const auto close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
        const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
        // Counted from field 3 (state): utime is field 14, stime 15, num_threads 20.
        if (f.size() > 17) {
            s.cpuSeconds = (std::stod(f[11]) + std::stod(f[12])) / tick;
            s.threads = std::stoi(f[17]);
        }
    }
    const std::string status = ReadText(proc + "/status");
    s.rssKb = StatusKb(status, "VmRSS:");
    s.hwmKb = StatusKb(status, "VmHWM:");
    s.anonKb = StatusKb(status, "RssAnon:");
    std::error_code ec;
    for (auto it = fs::directory_iterator(proc + "/fd", ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        ++s.fds;
    for (auto it = fs::directory_iterator(proc + "/task", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string sched = ReadText(it->path().string() + "/schedstat");
        s.schedSeconds += std::strtod(sched.c_str(), nullptr) / 1e9;
    }
    return s;
}

ServerProcess::ServerProcess(const std::string& executable) : dir_("server") {
    fs::copy_file(executable, Folder() + "/ovrin-server");
}

// Ended as a user would end it where possible, so the serial port's lock file in
// /var/lock goes with it; one a killed server leaves is removed here.
ServerProcess::~ServerProcess() {
    if (child_.Running()) child_.Terminate(3000);
    std::string lock = ComLink(1);
    std::replace(lock.begin(), lock.end(), '/', '_');
    std::error_code ec;
    fs::remove("/var/lock/LCK.." + lock, ec);
}

void ServerProcess::WriteSettings(int port) const {
    SettingsRecordBuffer r;
    r.Reserved1 = r.Reserved2 = std::string(20, ' ');
    r.Interbyte = ToField("100 mS", 7);
    r.Baud = ToField("9600", 6);
    r.DataBits = ToField("8", 1);
    r.Parity = ToField("None", 5);
    r.StopBits = ToField("2", 1);
    r.HostPort = ToField(std::to_string(port), 5);
    r.ListenAtStart = 1;
    r.ComPortName = ToField("COM1", 6);
    r.DTRFlag = r.RTSFlag = "1";
    r.BridgeFlag = "0";
    r.ActiveInListenFlag = "1";
    r.PTTControlFlag = "0";
    std::ofstream(SettingsPath(), std::ios::binary) << r.Encode();
}

void ServerProcess::LinkCom(int n, const std::string& device) const {
    fs::create_directories(Folder() + "/dosdevices");
    UnlinkCom(n);
    fs::create_symlink(device, ComLink(n));
}

void ServerProcess::UnlinkCom(int n) const {
    std::error_code ec;
    fs::remove(ComLink(n), ec);
}

void ServerProcess::Start(const std::vector<std::string>& options) {
    // OVRIN_BENCH_WRAPPER runs the server under a tool, e.g. "strace -f -o /tmp/trace".
    std::vector<std::string> argv;
    if (const char* wrapper = std::getenv("OVRIN_BENCH_WRAPPER")) {
        std::istringstream words(wrapper);
        argv.assign(std::istream_iterator<std::string>(words), {});
    }
    argv.push_back(Folder() + "/ovrin-server");
    // OVRIN_BENCH_WINDOW: with its window, on the display the bench runs on (Xvfb).
    const bool window = std::getenv("OVRIN_BENCH_WINDOW") != nullptr;
    if (!window) argv.push_back("--headless");
    argv.insert(argv.end(), options.begin(), options.end());
    std::vector<std::string> hidden{"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    if (!window) hidden.push_back("DISPLAY");
    child_ = Child(argv, Folder() + "/server.log", false, hidden);
}

std::string ServerProcess::Log() const { return ReadText(Folder() + "/server.log"); }

long ListeningInode(int port, std::string* localAddress) {
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            long inode = 0;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const auto colon = local.rfind(':');
            if (colon == std::string::npos || state != "0A") continue;
            if (std::stoi(local.substr(colon + 1), nullptr, 16) != port) continue;
            if (localAddress) *localAddress = local.substr(0, colon);
            return inode;
        }
    }
    return 0;
}

bool IsListening(int port) { return ListeningInode(port) != 0; }

bool WaitListening(int port, int ms, double* firstSeenMs) {
    const auto start = Clock::now();
    long inode = 0;
    double seen = 0;
    while (MsSince(start) < ms) {
        const long now = ListeningInode(port);
        if (now != inode) {
            inode = now;
            seen = MsSince(start);
        } else if (inode != 0 && MsSince(start) - seen >= kListenSettleMs) {
            if (firstSeenMs) *firstSeenMs = seen;
            return true;
        }
        SleepMs(0.5);
    }
    return false;
}

int FreeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

Summary Summarize(std::vector<double> v) {
    Summary s;
    s.n = v.size();
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    // Nearest rank: the smallest value with at least q of the samples at or below it.
    auto rank = [&](double q) {
        const auto k = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())));
        return v[std::clamp<std::size_t>(k, 1, v.size()) - 1];
    };
    s.min = v.front();
    s.max = v.back();
    s.p50 = rank(0.50);
    s.p90 = rank(0.90);
    s.p99 = rank(0.99);
    double sum = 0;
    for (double x : v) sum += x;
    s.mean = sum / static_cast<double>(v.size());
    return s;
}

std::string Describe(const Summary& s) {
    std::ostringstream o;
    o << std::fixed << std::setprecision(2) << "p50 " << s.p50 << "  p90 " << s.p90 << "  p99 " << s.p99 << "  max "
      << s.max << " ms (min " << s.min << ", mean " << s.mean << ", n=" << s.n << ")";
    return o.str();
}

char ByteStream::Next() {
    // xorshift64*: fast, and good enough that no 6-byte block looks like a command.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<char>((state_ * 2685821657736338717ULL) >> 56);
}

Bytes ByteStream::Take(std::size_t n) {
    Bytes b(n, '\0');
    for (char& c : b) c = Next();
    return b;
}

void Verdicts::Add(bool pass, const std::string& name, const std::string& figure) {
    if (!pass) ++failed_;
    std::cout << (pass ? "PASS " : "FAIL ") << name << ": " << figure << std::endl;
}

}  // namespace ovrin::bench
