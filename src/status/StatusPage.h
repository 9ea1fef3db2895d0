#pragma once
// The status page and its JSON, rendered from a snapshot alone: no platform, no
// clock but the snapshot's own, so any thread may render and a test sees exactly
// what a visitor gets.
#include <cstdint>
#include <string>

#include "status/StatusSnapshot.h"

namespace ovrin::status {

// The page a person reads: it asks for itself again every second and swaps its
// content in place (without JavaScript it reloads every few seconds); everything it
// needs is in it.
std::string StatusHtml(const StatusSnapshot& s);
// The same facts for scripts: docs and README show an example.
std::string StatusJson(const StatusSnapshot& s);

// "2026-12-08T12:00:05Z" (UTC, whole seconds).
std::string UtcStamp(int64_t wallMs);
// "12.3 s", "5 min 02 s", "2 h 05 min", "3 d 04 h".
std::string Duration(int64_t ms);

}  // namespace ovrin::status
