#pragma once
// Driving programs in a private X server from outside: child processes that die
// with the test, a private Xvfb, and the command-line X tools a person's desktop
// would stand in for (xdotool, xwininfo, xprop, ImageMagick's import).
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ovrin::window {

// Variables to set ("" value: remove) on top of this process's environment.
using EnvChanges = std::map<std::string, std::string>;

// A started program in its own process group. It is killed when the test process
// dies for any reason, and stopped (TERM, then KILL) when this object goes.
class Child {
public:
    // Output goes to `logPath` (or /dev/null when empty). `passFd` stays open in
    // the child under its own number. Throws when fork fails.
    Child(const std::vector<std::string>& argv, const EnvChanges& env, const std::string& dir,
          const std::string& logPath, int passFd = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit status (or 128 + signal) once it has ended within `ms`.
    std::optional<int> WaitExit(int ms);
    // SIGTERM to its group, KILL after `ms`; returns how it ended.
    int Stop(int ms);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct RunResult {
    int status = -1;  // exit status, 128 + signal, 127 when it could not be run
    bool timedOut = false;
    std::string out;
    std::string err;
    std::string Describe() const;
};

// Runs a command to its end (killed after `timeoutMs`) and collects its output.
RunResult Run(const std::vector<std::string>& argv, const EnvChanges& env = {}, int timeoutMs = 10000);

// Polls `done` every few milliseconds until it holds or `ms` pass.
bool WaitFor(const std::function<bool()>& done, int ms);

// A private Xvfb on the first free display number (it picks it itself).
class Xvfb {
public:
    // Nothing (and the reason) when Xvfb cannot start here.
    static std::unique_ptr<Xvfb> Start(const std::string& logPath, std::string& why);
    ~Xvfb();

    const std::string& Display() const { return display_; }
    EnvChanges Env() const;  // for the X tools and the program under test

private:
    Xvfb(std::unique_ptr<Child> child, std::string display) : child_(std::move(child)), display_(std::move(display)) {}
    std::unique_ptr<Child> child_;
    std::string display_;
};

// Window state as xwininfo reports it.
struct WindowInfo {
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
};

// The X tools on one display; every call fails the current test with the tool's
// own words when the tool does.
class XTools {
public:
    explicit XTools(EnvChanges env) : env_(std::move(env)) {}

    // Ids of viewable top-level windows whose name (or class) matches the regex.
    std::vector<std::string> FindByName(const std::string& regex) const;
    std::vector<std::string> FindByClass(const std::string& regex) const;
    std::optional<WindowInfo> Info(const std::string& window) const;
    std::string Property(const std::string& window, const std::string& name, const std::string& format = "") const;
    pid_t PidOf(const std::string& window) const;
    // A picture of the window's contents as shown on the screen, saved as PNG.
    bool Screenshot(const std::string& window, const std::string& pngPath) const;

    // Mouse and keyboard, as a person would use them. Points are relative to `window`.
    bool Focus(const std::string& window) const;
    bool Click(const std::string& window, int x, int y) const;
    bool ClickAt(int screenX, int screenY) const;
    bool Keys(const std::vector<std::string>& keys) const;
    bool Type(const std::string& text) const;

private:
    bool Xdotool(std::vector<std::string> args) const;
    std::vector<std::string> Search(const std::string& what, const std::string& regex) const;
    EnvChanges env_;
};

}  // namespace ovrin::window
