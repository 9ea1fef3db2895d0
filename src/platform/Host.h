#pragma once
// Program facts and files: the program's folder, its version numbers, and the
// fixed-length record file operations. Failures throw PlatformError.
#include <cstdint>
#include <string>

#include "base/Errors.h"

namespace ovrin {

class Host {
public:
    virtual ~Host() = default;
    virtual std::string ProgramFolder() const = 0;
    virtual char PathSeparator() const = 0;
    virtual int VersionMajor() const = 0;
    virtual int VersionMinor() const = 0;
    virtual int VersionRevision() const = 0;

    virtual int64_t FileLen(const std::string& path) const = 0;  // fails if missing
    virtual Bytes ReadRecord(const std::string& path, std::size_t length) = 0;
    // Replaces the file with the record in one step: on failure the old file stays.
    // A path that is a link is written through to the file it leads to.
    virtual void WriteRecord(const std::string& path, const Bytes& record) = 0;
    // Copies the file, whatever its length, to `copy` (replaced in one step).
    virtual void KeepCopy(const std::string& path, const std::string& copy) = 0;

    // Ends the event loop; no handler runs after the current one returns.
    virtual void EndProgram() = 0;

    // Milliseconds on a clock that never goes back (for durations), and the wall
    // clock's milliseconds since 1970 (for people).
    virtual int64_t MonotonicMs() const = 0;
    virtual int64_t WallClockMs() const = 0;
};

}  // namespace ovrin
