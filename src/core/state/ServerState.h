#pragma once
// The server's connection state, one value changed only by its named transitions:
// Off-line (nothing listens), Listening (waiting for clients) and Serving (at least
// one client; the window shows it as "ON-LINE"). Every change is announced, so the
// views follow it and no code reads a view to learn it.
#include "base/Hooks.h"

namespace ovrin {

enum class ServerMode { OffLine, Listening, Serving };

class ServerState {
public:
    ServerMode Mode() const { return mode_; }
    bool OffLine() const { return mode_ == ServerMode::OffLine; }
    bool Serving() const { return mode_ == ServerMode::Serving; }

    // Off-line to Listening; false when it was not Off-line.
    bool Listened() { return Enter(ServerMode::Listening, mode_ == ServerMode::OffLine); }
    // A client was accepted: Serving.
    bool ClientAccepted() { return Enter(ServerMode::Serving, mode_ != ServerMode::OffLine); }
    // The last client has gone: Listening again.
    bool LastClientGone() { return Enter(ServerMode::Listening, mode_ == ServerMode::Serving); }
    // From any state.
    bool WentOffLine() { return Enter(ServerMode::OffLine, true); }

    // Run after every change.
    Hooks Changed;

private:
    bool Enter(ServerMode next, bool allowed) {
        if (!allowed || next == mode_) return false;
        mode_ = next;
        Changed();
        return true;
    }
    ServerMode mode_ = ServerMode::OffLine;
};

}  // namespace ovrin
