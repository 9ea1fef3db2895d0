// ovrin-radio-sim: a radio on a pseudo-terminal, for trying the server without one.
#include "Cat.h"
#include "Options.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace ovrin::radiosim;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Above this much unsent output the simulator stops reading, so a loopback
// writer that does not read is slowed down instead of losing bytes.
constexpr std::size_t kOutputLimit = 64 * 1024;
// Output nobody has read for this long is thrown away, so a port opened later
// does not start with answers meant for an earlier session.
constexpr auto kStaleAfter = std::chrono::seconds(2);
constexpr int kIdleWakeMs = 250;
// An FT-817 command has no end mark: a part of one left by a client that went
// away would shift every later command, so a part this old is dropped.
constexpr auto kUnfinishedAfter = milliseconds(500);
constexpr std::uint64_t kKnobStepHz = 100;

int g_wakePipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_statsWanted = 0;

void WakeUp() {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(g_wakePipe[1], &byte, 1);
    errno = saved;
}

void OnSignal(int) {
    g_stop = 1;
    WakeUp();
}

void OnStatsSignal(int) {
    g_statsWanted = 1;
    WakeUp();
}

void SetCloseOnExec(int fd) { fcntl(fd, F_SETFD, FD_CLOEXEC); }

std::string Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  ts.tv_nsec / 1'000'000);
    return text;
}

// Thrown rather than exiting, so the destructor still removes the link.
[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

class Simulator {
public:
    explicit Simulator(const Options& options) : options_(options), radio_(MakeRadio(options.radio)) {}
    ~Simulator();

    void OpenTerminal();
    void MakeLink();
    void OpenLog();
    void Run();
    void WriteStats() const;
    const std::string& SlavePath() const { return slavePath_; }

private:
    struct Block {
        Clock::time_point due;
        std::string bytes;
    };

    bool OpenSlave();
    void Received(const std::string& bytes);
    void TurnKnob();
    void DropUnfinished();
    Clock::duration DelayOf(const std::string& name) const;
    void Queue(std::string bytes, Clock::time_point due);
    void WriteDue();
    std::size_t BytesOnTheLineBy(Clock::time_point now);
    Clock::duration CharacterTime() const;
    void DropStaleOutput();
    void Log(const char* tag, std::string_view bytes);
    std::size_t QueuedBytes() const;

    Options options_;
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up between client sessions
    std::string slavePath_;
    bool linked_ = false;
    FILE* log_ = nullptr;
    std::unique_ptr<Radio> radio_;
    std::map<std::string, unsigned long long> received_;  // commands by name, for --stats
    Clock::time_point lastAnswerDue_{};  // answers leave in order, so none overtakes a slow one
    Clock::time_point lastReceived_{};
    Clock::time_point nextKnob_{};
    bool knobUp_ = true;
    bool ptt_ = false;  // as last logged
    std::deque<Block> output_;
    std::size_t frontWritten_ = 0;
    bool blocked_ = false;
    Clock::time_point nextByteAt_{};  // paced: when the line can bring the next byte
    int lastUnread_ = 0;
    // Since when nothing was written and nothing read: output older than that is stale.
    Clock::time_point unreadSince_{};
};

Simulator::~Simulator() {
    if (linked_) {
        // Only remove the link if it is still ours: another simulator may have taken it over.
        std::error_code ec;
        if (std::filesystem::read_symlink(options_.link, ec) == slavePath_) std::filesystem::remove(options_.link, ec);
    }
    if (log_ && log_ != stderr) std::fclose(log_);
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

void Simulator::OpenTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) Fail("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) Fail("grantpt/unlockpt");
    const char* name = ptsname(master_);
    if (!name) Fail("ptsname");
    slavePath_ = name;
    SetCloseOnExec(master_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (!OpenSlave()) Fail("open " + slavePath_);
}

bool Simulator::OpenSlave() {
    if (slave_ >= 0) close(slave_);
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) return false;
    SetCloseOnExec(slave_);
    // Raw, so a client that does not set up the line itself still gets every byte as sent.
    termios t{};
    if (tcgetattr(slave_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(slave_, TCSANOW, &t) != 0) return false;
    return true;
}

void Simulator::MakeLink() {
    if (options_.link.empty()) return;
    namespace fs = std::filesystem;
    const fs::path link(options_.link);
    std::error_code ec;
    if (link.has_parent_path()) fs::create_directories(link.parent_path(), ec);
    const auto status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status))
        throw std::runtime_error(options_.link + " exists and is not a link; not replacing it");
    // Made beside it and renamed over it, so a stale link is replaced in one step.
    const fs::path temporary = link.string() + ".new-" + std::to_string(getpid());
    fs::remove(temporary, ec);
    if (symlink(slavePath_.c_str(), temporary.c_str()) != 0) Fail("symlink " + temporary.string());
    if (std::rename(temporary.c_str(), link.c_str()) != 0) {
        fs::remove(temporary, ec);
        Fail("rename to " + options_.link);
    }
    linked_ = true;
}

void Simulator::OpenLog() {
    if (options_.log.empty()) return;
    if (options_.log == "-") {
        log_ = stderr;
        return;
    }
    log_ = std::fopen(options_.log.c_str(), "a");
    if (!log_) Fail("open log " + options_.log);
    std::setvbuf(log_, nullptr, _IOLBF, 0);  // readable with tail -f while running
}

void Simulator::Log(const char* tag, std::string_view bytes) {
    if (log_) std::fputs(FormatLog(Now(), tag, bytes).c_str(), log_);
}

std::size_t Simulator::QueuedBytes() const {
    std::size_t total = 0;
    for (const Block& b : output_) total += b.bytes.size();
    return total - frontWritten_;
}

void Simulator::Queue(std::string bytes, Clock::time_point due) {
    if (bytes.empty()) return;
    // Kept in order of due time; an echo queued now goes before a later answer.
    auto at = output_.end();
    while (at != output_.begin() && std::prev(at)->due > due) --at;
    output_.insert(at, Block{due, std::move(bytes)});
}

void Simulator::Received(const std::string& bytes) {
    Log("<-", bytes);
    const auto now = Clock::now();
    lastReceived_ = now;
    if (options_.mode == Mode::Loopback || options_.echo) Queue(bytes, now);
    if (options_.mode != Mode::Cat) return;
    // Answers due together leave as one block, as the answers to one read.
    std::string block;
    Clock::time_point blockDue{};
    for (const Exchange& exchange : radio_->Feed(bytes)) {
        ++received_[exchange.name.empty() ? "?" : exchange.name];
        if (exchange.ptt != ptt_) {
            ptt_ = exchange.ptt;
            if (log_) std::fprintf(log_, "%s    PTT %s\n", Now().c_str(), ptt_ ? "on" : "off");
        }
        if (exchange.answer.empty() && exchange.reports.empty()) continue;
        const auto due = std::max(now + DelayOf(exchange.name), lastAnswerDue_);
        if (!block.empty() && due != blockDue) {
            Queue(std::move(block), blockDue);
            block.clear();
        }
        block += exchange.answer + exchange.reports;
        blockDue = lastAnswerDue_ = due;
    }
    Queue(std::move(block), blockDue);
}

Clock::duration Simulator::DelayOf(const std::string& name) const {
    const auto slow = options_.slowMs.find(name);
    return milliseconds(slow == options_.slowMs.end() ? options_.delayMs : slow->second);
}

// The front panel: VFO A a step up, next time back down, so it stays on its band.
void Simulator::TurnKnob() {
    const std::uint64_t hz = radio_->State().vfo[0];
    const std::uint64_t to = knobUp_ || hz <= kKnobStepHz ? hz + kKnobStepHz : hz - kKnobStepHz;
    knobUp_ = !knobUp_;
    if (log_) std::fprintf(log_, "%s    knob: VFO A to %llu Hz\n", Now().c_str(), static_cast<unsigned long long>(to));
    Queue(radio_->TurnKnob(to), Clock::now());
}

void Simulator::DropUnfinished() {
    const std::size_t pending = radio_->Pending();
    if (pending == 0 || options_.radio.family != Family::Ft817 || Clock::now() - lastReceived_ < kUnfinishedAfter)
        return;
    radio_->DropPending();
    if (log_) std::fprintf(log_, "%s    dropped %zu bytes of an unfinished command\n", Now().c_str(), pending);
}

// The time one character takes at --baud, for the character size the other end
// set the line to (start bit, data bits, parity, stop bits).
Clock::duration Simulator::CharacterTime() const {
    termios t{};
    int bits = 10;
    if (tcgetattr(slave_, &t) == 0) {
        const tcflag_t size = t.c_cflag & CSIZE;
        bits = 1 + (size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8) + ((t.c_cflag & PARENB) ? 1 : 0) +
               ((t.c_cflag & CSTOPB) ? 2 : 1);
    }
    return std::chrono::nanoseconds(1'000'000'000LL * bits / options_.baud);
}

// Paced output: how many bytes of the front block the line has brought by now, one
// character time apart from when the block was due. A late wake-up sends the
// overdue bytes together rather than stretching the line.
std::size_t Simulator::BytesOnTheLineBy(Clock::time_point now) {
    if (nextByteAt_ < output_.front().due) nextByteAt_ = output_.front().due;
    if (now < nextByteAt_) return 0;
    return 1 + static_cast<std::size_t>((now - nextByteAt_) / CharacterTime());
}

void Simulator::WriteDue() {
    blocked_ = false;
    while (!output_.empty() && output_.front().due <= Clock::now()) {
        const std::string& bytes = output_.front().bytes;
        std::size_t count = bytes.size() - frontWritten_;
        if (options_.baud > 0) count = std::min(count, BytesOnTheLineBy(Clock::now()));
        if (count == 0) return;
        const ssize_t n = write(master_, bytes.data() + frontWritten_, count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            blocked_ = true;
            return;
        }
        if (n < 0) {
            std::fprintf(stderr, "ovrin-radio-sim: write: %s (block dropped)\n", std::strerror(errno));
        } else {
            Log("->", std::string_view(bytes).substr(frontWritten_, static_cast<std::size_t>(n)));
            unreadSince_ = Clock::now();  // fresh output is not stale, whatever still waits before it
            frontWritten_ += static_cast<std::size_t>(n);
            if (options_.baud > 0) nextByteAt_ += n * CharacterTime();
            if (frontWritten_ < bytes.size()) continue;
        }
        output_.pop_front();
        frontWritten_ = 0;
    }
}

void Simulator::DropStaleOutput() {
    int unread = 0;
    if (ioctl(slave_, TIOCINQ, &unread) != 0 || unread == 0 || unread < lastUnread_) {
        // Empty, or the client is reading: not stale.
        lastUnread_ = unread;
        unreadSince_ = Clock::now();
        return;
    }
    lastUnread_ = unread;
    if (Clock::now() - unreadSince_ < kStaleAfter) return;
    tcflush(slave_, TCIFLUSH);
    if (log_) std::fprintf(log_, "%s    dropped %d bytes nobody read\n", Now().c_str(), unread);
    lastUnread_ = 0;
    unreadSince_ = Clock::now();
}

// Written beside the file and renamed over it, so a reader never sees half of it
// and can wait for the file to appear after removing it and sending SIGUSR1.
void Simulator::WriteStats() const {
    if (options_.stats.empty()) return;
    const std::string temporary = options_.stats + ".new-" + std::to_string(getpid());
    FILE* f = std::fopen(temporary.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "ovrin-radio-sim: --stats %s: %s\n", temporary.c_str(), std::strerror(errno));
        return;
    }
    for (const auto& [name, count] : received_) std::fprintf(f, "%s %llu\n", name.c_str(), count);
    const bool written = std::fclose(f) == 0;
    if (!written || std::rename(temporary.c_str(), options_.stats.c_str()) != 0) {
        std::fprintf(stderr, "ovrin-radio-sim: --stats %s: %s\n", options_.stats.c_str(), std::strerror(errno));
        std::remove(temporary.c_str());
    }
}

void Simulator::Run() {
    std::vector<char> buffer(4096);
    const bool knob = options_.knobMs > 0 && options_.mode == Mode::Cat;
    const milliseconds knobEvery(options_.knobMs);
    nextKnob_ = Clock::now() + knobEvery;
    while (!g_stop) {
        if (g_statsWanted) {
            g_statsWanted = 0;
            WriteStats();
        }
        if (knob && Clock::now() >= nextKnob_) {
            TurnKnob();
            nextKnob_ = std::max(nextKnob_ + knobEvery, Clock::now());
        }
        WriteDue();
        DropStaleOutput();
        DropUnfinished();

        // Woken to the microsecond: a paced line sends a byte every millisecond or so.
        auto wake = Clock::now() + milliseconds(kIdleWakeMs);
        if (knob) wake = std::min(wake, nextKnob_);
        if (!output_.empty() && !blocked_) {
            const auto due = std::max(output_.front().due, options_.baud > 0 ? nextByteAt_ : Clock::time_point{});
            wake = std::min(wake, due);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(wake - Clock::now(), Clock::duration::zero()));
        const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                               static_cast<long>(wait.count() % 1'000'000'000)};
        short events = 0;
        if (QueuedBytes() < kOutputLimit) events |= POLLIN;
        if (blocked_) events |= POLLOUT;
        pollfd fds[2] = {{master_, events, 0}, {g_wakePipe[0], POLLIN, 0}};
        if (ppoll(fds, 2, &timeout, nullptr) < 0) {
            if (errno == EINTR) continue;
            Fail("poll");
        }
        if (fds[1].revents & POLLIN) {
            // Emptied, or a SIGUSR1 would keep the loop awake from then on.
            char drain[64];
            while (read(g_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(master_, buffer.data(), buffer.size());
            if (n > 0) {
                Received(std::string(buffer.data(), static_cast<std::size_t>(n)));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) hungUp = true;
        }
        if (hungUp) {
            // Only if someone hung up the line under our own slave descriptor:
            // take it again after a pause rather than spin on the event. A client
            // holding the device exclusively makes the open fail; that is fine
            // while it has it open, and the next hang-up retries.
            timespec pause{0, 100'000'000};
            nanosleep(&pause, nullptr);
            OpenSlave();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "ovrin-radio-sim: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    if (pipe(g_wakePipe) != 0) {
        std::perror("ovrin-radio-sim: pipe");
        return 1;
    }
    for (const int fd : g_wakePipe) {
        SetCloseOnExec(fd);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    action.sa_handler = OnStatsSignal;
    sigaction(SIGUSR1, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        Simulator simulator(options);
        simulator.OpenTerminal();
        simulator.OpenLog();
        simulator.MakeLink();

        std::printf("%s\n", simulator.SlavePath().c_str());
        std::fflush(stdout);
        const char* family = options.radio.family == Family::Civ     ? "CI-V"
                             : options.radio.family == Family::Ft817 ? "FT-817"
                                                                     : "Kenwood";
        const std::string mode = options.mode == Mode::Loopback ? std::string("loopback mode")
                                 : std::string(family) + (options.echo ? " cat mode with echo" : " cat mode");
        std::fprintf(stderr, "ovrin-radio-sim: %s, answer delay %d ms, %s, on %s%s%s\n", mode.c_str(), options.delayMs,
                     options.baud > 0 ? ("paced at " + std::to_string(options.baud) + " baud").c_str() : "unpaced",
                     simulator.SlavePath().c_str(), options.link.empty() ? "" : " linked as ",
                     options.link.c_str());
        simulator.Run();
        simulator.WriteStats();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ovrin-radio-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
