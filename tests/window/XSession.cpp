#include "XSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace ovrin::window {
namespace {

using Clock = std::chrono::steady_clock;

int StatusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

// argv and environment as exec wants them, built before fork: the child only
// calls what is safe between fork and exec.
struct ExecImage {
    ExecImage(const std::vector<std::string>& argv, const EnvChanges& changes) : args(argv) {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            const auto eq = entry.find('=');
            if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        for (const auto& [name, value] : changes) {
            if (value.empty()) env.erase(name);
            else env[name] = value;
        }
        for (const auto& [name, value] : env) vars.push_back(name + "=" + value);
        for (std::string& a : args) argp.push_back(a.data());
        argp.push_back(nullptr);
        for (std::string& v : vars) envp.push_back(v.data());
        envp.push_back(nullptr);
    }
    std::vector<std::string> args, vars;
    std::vector<char*> argp, envp;
};

// In the forked child: its own group, death with the parent, only the wanted fds.
void BecomeChild(pid_t parent, int out, int err, int keep) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);  // the parent is already gone
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(out >= 0 ? out : null, 1);
    dup2(err >= 0 ? err : null, 2);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keep) close(fd);
}

[[noreturn]] void Exec(const ExecImage& image) {
    execvpe(image.argp[0], image.argp.data(), image.envp.data());
    const char* what = strerror(errno);
    (void)!write(2, image.argp[0], strlen(image.argp[0]));
    (void)!write(2, ": ", 2);
    (void)!write(2, what, strlen(what));
    (void)!write(2, "\n", 1);
    _exit(127);
}

std::string Tail(const std::string& path, std::size_t bytes) {
    std::ifstream in(path);
    const std::string all((std::istreambuf_iterator<char>(in)), {});
    return all.size() > bytes ? all.substr(all.size() - bytes) : all;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const EnvChanges& env, const std::string& dir,
             const std::string& logPath, int passFd) {
    const ExecImage image(argv, env);
    const int log = logPath.empty() ? -1 : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        if (log >= 0) close(log);
        throw std::runtime_error(std::string("fork: ") + strerror(errno));
    }
    if (pid_ == 0) {
        BecomeChild(parent, log, log, passFd);
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        Exec(image);
    }
    setpgid(pid_, pid_);  // also here, so a signal to the group cannot come too early
    if (log >= 0) close(log);
}

Child::~Child() { Stop(3000); }

bool Child::Running() {
    if (status_) return false;
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) status_ = StatusOf(raw);
    return !status_;
}

std::optional<int> Child::WaitExit(int ms) {
    WaitFor([this] { return !Running(); }, ms);
    return status_;
}

int Child::Stop(int ms) {
    if (!Running()) return *status_;
    kill(-pid_, SIGTERM);
    if (WaitExit(ms)) return *status_;
    kill(-pid_, SIGKILL);
    int raw = 0;
    waitpid(pid_, &raw, 0);
    status_ = StatusOf(raw);
    return *status_;
}

std::string RunResult::Describe() const {
    std::ostringstream s;
    if (timedOut) s << "timed out; ";
    if (status == 127) s << "could not be run (scripts/deps.sh installs the X tools); ";
    s << "status " << status;
    if (!err.empty()) s << ", said: " << err;
    return s.str();
}

RunResult Run(const std::vector<std::string>& argv, const EnvChanges& env, int timeoutMs) {
    RunResult result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    const ExecImage image(argv, env);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        BecomeChild(parent, out[1], err[1], -1);
        Exec(image);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        result.err = strerror(errno);
        return result;
    }
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            result.timedOut = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[8192];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    if (result.timedOut) kill(-pid, SIGKILL);
    int raw = 0;
    waitpid(pid, &raw, 0);
    result.status = StatusOf(raw);
    return result;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::unique_ptr<Xvfb> Xvfb::Start(const std::string& logPath, std::string& why) {
    // Xvfb picks a free display itself and writes its number here once it accepts
    // clients: no guessing, no race with other servers starting at the same time.
    int ready[2];
    if (pipe(ready) != 0) {
        why = std::string("pipe: ") + strerror(errno);
        return nullptr;
    }
    fcntl(ready[0], F_SETFD, FD_CLOEXEC);
    std::unique_ptr<Child> child;
    try {
        child = std::make_unique<Child>(
            std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "640x480x24",
                                     "-nolisten", "tcp", "-noreset"},
            EnvChanges{}, "", logPath, ready[1]);
    } catch (const std::exception& e) {
        close(ready[0]);
        close(ready[1]);
        why = e.what();
        return nullptr;
    }
    close(ready[1]);
    std::string number;
    const auto until = Clock::now() + std::chrono::seconds(15);
    while (number.find('\n') == std::string::npos && Clock::now() < until) {
        pollfd p{ready[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c[16];
        const ssize_t n = read(ready[0], c, sizeof c);
        if (n <= 0) break;  // Xvfb ended (or was never there)
        number.append(c, static_cast<std::size_t>(n));
    }
    close(ready[0]);
    if (number.find('\n') == std::string::npos) {
        const int status = child->Stop(2000);
        why = status == 127 ? "Xvfb is not installed or not on PATH"
                            : "Xvfb did not start (status " + std::to_string(status) + "): " + Tail(logPath, 600);
        return nullptr;
    }
    number.erase(number.find('\n'));
    return std::unique_ptr<Xvfb>(new Xvfb(std::move(child), ":" + number));
}

Xvfb::~Xvfb() { child_->Stop(3000); }

EnvChanges Xvfb::Env() const { return {{"DISPLAY", display_}, {"WAYLAND_DISPLAY", ""}}; }

std::vector<std::string> XTools::Search(const std::string& what, const std::string& regex) const {
    const RunResult r = Run({"xdotool", "search", "--onlyvisible", what, regex}, env_);
    std::vector<std::string> ids;
    if (r.status == 1 && r.out.empty()) return ids;  // nothing matches
    if (r.status != 0) {
        ADD_FAILURE() << "xdotool search " << what << " " << regex << ": " << r.Describe();
        return ids;
    }
    std::istringstream lines(r.out);
    for (std::string id; std::getline(lines, id);)
        if (!id.empty()) ids.push_back(id);
    return ids;
}

std::vector<std::string> XTools::FindByName(const std::string& regex) const { return Search("--name", regex); }
std::vector<std::string> XTools::FindByClass(const std::string& regex) const { return Search("--class", regex); }

std::optional<WindowInfo> XTools::Info(const std::string& window) const {
    const RunResult r = Run({"xwininfo", "-id", window}, env_);
    if (r.status != 0) return std::nullopt;
    WindowInfo info;
    const auto number = [&](const char* label) {
        const auto at = r.out.find(label);
        return at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + std::strlen(label));
    };
    info.x = number("Absolute upper-left X:");
    info.y = number("Absolute upper-left Y:");
    info.width = number("Width:");
    info.height = number("Height:");
    info.viewable = r.out.find("Map State: IsViewable") != std::string::npos;
    return info;
}

std::string XTools::Property(const std::string& window, const std::string& name, const std::string& format) const {
    std::vector<std::string> args{"xprop", "-id", window, "-notype"};
    if (!format.empty()) args.insert(args.end(), {"-f", name, format, "=$0+\\n"});
    args.push_back(name);
    const RunResult r = Run(args, env_);
    if (r.status != 0) ADD_FAILURE() << "xprop " << name << ": " << r.Describe();
    return r.out;
}

pid_t XTools::PidOf(const std::string& window) const {
    const RunResult r = Run({"xdotool", "getwindowpid", window}, env_);
    return r.status == 0 ? static_cast<pid_t>(std::atol(r.out.c_str())) : -1;
}

bool XTools::Screenshot(const std::string& window, const std::string& pngPath) const {
    const RunResult r = Run({"import", "-window", window, "png:" + pngPath}, env_, 20000);
    if (r.status != 0) ADD_FAILURE() << "import -window " << window << ": " << r.Describe();
    return r.status == 0;
}

bool XTools::Xdotool(std::vector<std::string> args) const {
    args.insert(args.begin(), "xdotool");
    const RunResult r = Run(args, env_);
    if (r.status != 0) {
        std::string line;
        for (const std::string& a : args) line += a + " ";
        ADD_FAILURE() << line << ": " << r.Describe();
    }
    return r.status == 0;
}

bool XTools::Focus(const std::string& window) const { return Xdotool({"windowfocus", "--sync", window}); }

bool XTools::Click(const std::string& window, int x, int y) const {
    return Xdotool({"mousemove", "--sync", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
}

bool XTools::ClickAt(int screenX, int screenY) const {
    return Xdotool({"mousemove", "--sync", std::to_string(screenX), std::to_string(screenY), "click", "1"});
}

bool XTools::Keys(const std::vector<std::string>& keys) const {
    std::vector<std::string> args{"key", "--delay", "40"};
    args.insert(args.end(), keys.begin(), keys.end());
    return Xdotool(args);
}

bool XTools::Type(const std::string& text) const { return Xdotool({"type", "--delay", "40", text}); }

}  // namespace ovrin::window
