#pragma once
// The host facilities on the standard library's file system.
#include <functional>

#include "platform/Host.h"

namespace ovrin {

class FileHost : public Host {
public:
    FileHost(std::string programFolder, int major, int minor, int revision,
             std::function<void()> endProgram);

    std::string ProgramFolder() const override { return folder_; }
    char PathSeparator() const override;
    int VersionMajor() const override { return major_; }
    int VersionMinor() const override { return minor_; }
    int VersionRevision() const override { return revision_; }
    int64_t FileLen(const std::string& path) const override;
    Bytes ReadRecord(const std::string& path, std::size_t length) override;
    void WriteRecord(const std::string& path, const Bytes& record) override;
    void KeepCopy(const std::string& path, const std::string& copy) override;
    void EndProgram() override;
    int64_t MonotonicMs() const override;
    int64_t WallClockMs() const override;

private:
    std::string folder_;
    int major_, minor_, revision_;
    std::function<void()> endProgram_;
};

}  // namespace ovrin
