// Runs the simulator program and talks to it through the pseudo-terminal it prints.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

namespace fs = std::filesystem;

// The simulator, started through a shell that prints its own pid and then
// becomes the simulator; the simulator's first line names its device.
struct Sim {
    explicit Sim(const std::string& args) : out(popen(("echo $$; exec '" OVRIN_RADIO_SIM "' " + args).c_str(), "r")) {
        char line[256];
        if (out && fgets(line, sizeof line, out)) pid = std::atoi(line);
        if (out && fgets(line, sizeof line, out)) device = std::string(line, std::strcspn(line, "\n"));
    }
    ~Sim() { Stop(SIGKILL); }
    // The exit status after `signal`, or -1 when it did not exit by itself.
    int Stop(int signal) {
        if (!out) return -1;
        if (pid > 0) kill(pid, signal);
        const int status = pclose(out);
        out = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    FILE* out;
    pid_t pid = -1;
    std::string device;
};

// Writes `send`, then reads until `expected` bytes came or 3 s passed.
std::string Exchange(int fd, const std::string& send, std::size_t expected) {
    if (write(fd, send.data(), send.size()) != static_cast<ssize_t>(send.size())) return "(write failed)";
    std::string got;
    char buffer[512];
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         got.size() < expected && std::chrono::steady_clock::now() < end;) {
        pollfd p{fd, POLLIN, 0};
        const ssize_t n = poll(&p, 1, 10) > 0 ? read(fd, buffer, sizeof buffer) : 0;
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

// Opened as a client would, without setting the line up: the simulator made it raw.
int OpenDevice(const std::string& path) { return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); }

TEST(RadioSimProcess, AnswersOnThePrintedDeviceAndTakesItsLinkAlongOnSigterm) {
    char folder[] = "/tmp/radio-sim-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const fs::path link = fs::path(folder) / "dosdevices" / "com1";
    fs::create_directories(link.parent_path());
    fs::create_symlink("/dev/pts/does-not-exist", link);  // stale, from a run that crashed

    Sim sim("--delay 0 --link '" + link.string() + "'");
    ASSERT_EQ(sim.device.rfind("/dev/", 0), 0u) << "first line: " << sim.device;
    EXPECT_EQ(fs::read_symlink(link), sim.device);
    const int fd = OpenDevice(sim.device);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, "FA;", 14), "FA00014074000;");
    close(fd);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::is_symlink(link));
    fs::remove_all(folder);
}

TEST(RadioSimProcess, LoopbackReturnsEveryByteValueUnchanged) {
    Sim sim("--mode loopback");
    const int fd = OpenDevice(sim.device);
    ASSERT_GE(fd, 0);
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(Exchange(fd, all, all.size()), all);
    close(fd);
}

}  // namespace
