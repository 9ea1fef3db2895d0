#include "ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace ovrin::e2e {
namespace fs = std::filesystem;
namespace {

Bytes ReadFd(int fd, std::size_t want, int ms) {
    Bytes got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

void WriteAll(int fd, const Bytes& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) throw std::runtime_error("write failed");
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

PtyRadio::PtyRadio() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
    device_ = ptsname(master_);
    // Held open so the master never sees a hang-up between the server's opens;
    // raw so nothing is echoed or translated before the server configures it.
    slaveKeepAlive_ = open(device_.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slaveKeepAlive_, &t);
    cfmakeraw(&t);
    tcsetattr(slaveKeepAlive_, TCSANOW, &t);
}

PtyRadio::~PtyRadio() {
    CloseMaster();
    if (slaveKeepAlive_ >= 0) close(slaveKeepAlive_);
}

void PtyRadio::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void PtyRadio::Write(const Bytes& data) { WriteAll(master_, data); }
Bytes PtyRadio::Read(std::size_t want, int ms) { return ReadFd(master_, want, ms); }

TcpClient::TcpClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
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
}

TcpClient::~TcpClient() {
    if (fd_ >= 0) close(fd_);
}

void TcpClient::Send(const Bytes& data) { WriteAll(fd_, data); }
Bytes TcpClient::Read(std::size_t want, int ms) { return ReadFd(fd_, want, ms); }

bool TcpClient::SeesEndWithin(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    char c;
    return recv(fd_, &c, 1, 0) <= 0;
}

ServerProcess::ServerProcess() {
    char pattern[] = "/tmp/ovrin-e2e-XXXXXX";
    folder_ = mkdtemp(pattern);
    fs::copy_file(OVRIN_SERVER_PATH, folder_ + "/ovrin-server");
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void ServerProcess::LinkCom(int n, const std::string& device) {
    fs::create_directories(folder_ + "/dosdevices");
    const fs::path link = folder_ + "/dosdevices/com" + std::to_string(n);
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(device, link);
}

void ServerProcess::Start() {
    pid_ = fork();
    if (pid_ == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const std::string exe = folder_ + "/ovrin-server";
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

bool ServerProcess::WaitListening(int port, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (!PortIsFree(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int ServerProcess::Close(int ms) {
    kill(pid_, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

bool PortIsFree(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return free;
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

}  // namespace ovrin::e2e
