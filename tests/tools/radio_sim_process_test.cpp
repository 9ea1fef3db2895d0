// Runs the simulator program and talks to it through the pseudo-terminal it prints.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Sim {
public:
    explicit Sim(std::vector<std::string> args) {
        args.insert(args.begin(), OVRIN_RADIO_SIM);
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
        device_ = ReadLine();
    }
    ~Sim() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    const std::string& Device() const { return device_; }
    pid_t Pid() const { return pid_; }

    // Sends a signal and returns the wait status, or -1 if the process did not end in time.
    int Stop(int signal) {
        kill(pid_, signal);
        for (const auto end = Clock::now() + 5s; Clock::now() < end; std::this_thread::sleep_for(5ms)) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
        }
        return -1;
    }
    int Wait() { return Stop(0); }

    // CPU time the process has used so far, in clock ticks.
    long CpuTicks() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skip;
        for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
        long user = 0, system = 0;
        fields >> user >> system;
        return user + system;
    }

private:
    std::string ReadLine() {
        std::string line;
        char c = 0;
        const auto end = Clock::now() + 5s;
        while (Clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            if (read(stdout_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string device_;
};

// Opened as a client would, without setting the line up: the simulator must have made it raw.
int OpenDevice(const std::string& path) { return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); }

// Writes `send` while reading, until `expected` bytes came back or the time is up.
std::string Exchange(int fd, const std::string& send, std::size_t expected,
                     std::chrono::milliseconds timeout = 3000ms) {
    std::string received;
    std::size_t sent = 0;
    char buffer[4096];
    for (const auto end = Clock::now() + timeout; received.size() < expected && Clock::now() < end;) {
        pollfd p{fd, static_cast<short>(POLLIN | (sent < send.size() ? POLLOUT : 0)), 0};
        if (poll(&p, 1, 10) <= 0) continue;
        if ((p.revents & POLLOUT) && sent < send.size()) {
            const ssize_t n = write(fd, send.data() + sent, std::min<std::size_t>(send.size() - sent, 1024));
            if (n > 0) sent += static_cast<std::size_t>(n);
        }
        if (p.revents & POLLIN) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return received;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "radio-sim-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

TEST(RadioSimProcess, AnswersCatCommandsOnThePrintedDevice) {
    Sim sim({"--delay", "0"});
    ASSERT_EQ(sim.Device().rfind("/dev/", 0), 0u) << "first line: " << sim.Device();
    const int fd = OpenDevice(sim.Device());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, "FA;", 14), "FA00014074000;");
    // Set and read back in one write; the set itself has no answer.
    EXPECT_EQ(Exchange(fd, "FA00007074000;FA;MD;", 18), "FA00007074000;MD2;");
    EXPECT_EQ(Exchange(fd, "XX;", 2), "?;");
    close(fd);
}

TEST(RadioSimProcess, LoopbackReturnsEveryByteValueUnchanged) {
    Sim sim({"--mode", "loopback"});
    const int fd = OpenDevice(sim.Device());
    ASSERT_GE(fd, 0);
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(Exchange(fd, all, all.size()), all);
    // Far more than the terminal buffers hold, so the simulator must wait for the reader.
    std::string bulk;
    for (int i = 0; i < 128; ++i) bulk += all;
    EXPECT_EQ(Exchange(fd, bulk, bulk.size(), 10000ms), bulk);
    close(fd);
}

TEST(RadioSimProcess, EchoComesAtOnceAndTheAnswerSeparatelyAfterTheDelay) {
    Sim sim({"--mode", "echo", "--delay", "150"});
    const int fd = OpenDevice(sim.Device());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, "FA;", 100, 100ms), "FA;");
    EXPECT_EQ(Exchange(fd, "", 14), "FA00014074000;");
    close(fd);
}

TEST(RadioSimProcess, KeepsServingAfterTheClientClosesWithoutSpinning) {
    Sim sim({"--delay", "0"});
    int fd = OpenDevice(sim.Device());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, "ID;", 6), "ID019;");
    close(fd);

    const long before = sim.CpuTicks();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(sim.CpuTicks() - before, 5) << "busy while no client has the device open";

    fd = OpenDevice(sim.Device());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, "ID;", 6), "ID019;");
    close(fd);
}

TEST(RadioSimProcess, LinkReplacesAStaleOneAndGoesOnSignals) {
    for (const int signal : {SIGTERM, SIGINT}) {
        TempDir dir;
        const fs::path link = dir.Path() / "dosdevices" / "com1";
        fs::create_directories(link.parent_path());
        fs::create_symlink("/dev/pts/does-not-exist", link);

        Sim sim({"--link", link.string(), "--delay", "0"});
        ASSERT_FALSE(sim.Device().empty());
        EXPECT_EQ(fs::read_symlink(link), sim.Device());
        const int fd = OpenDevice(link.string());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(Exchange(fd, "MD;", 4), "MD2;");
        close(fd);

        const int status = sim.Stop(signal);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << signal << " status " << status;
        EXPECT_FALSE(fs::is_symlink(link)) << "signal " << signal;
    }
}

TEST(RadioSimProcess, RefusesToReplaceAFileThatIsNotALink) {
    TempDir dir;
    const fs::path file = dir.Path() / "com1";
    std::ofstream(file) << "keep";
    Sim sim({"--link", file.string()});
    const int status = sim.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    std::ifstream in(file);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep");
}

}  // namespace
