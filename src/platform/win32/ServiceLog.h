#pragma once
// The service's log: nobody reads a service's standard error, so each line goes
// to a file in its settings folder (with the date and time, as a terminal shows
// it; kept under 1 MiB, the older lines moved to ovrin-server.log.old) and to the
// Windows event log (Application, source Ovrin-Server), with its level.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/Log.h"

namespace ovrin::win32 {

// Names the program's message table as the source's, so the event log shows the
// lines as they are. Returns why it could not, or "".
std::string AddEventSource(const std::wstring& program);
void RemoveEventSource();

class ServiceLog final : public Log {
public:
    explicit ServiceLog(const std::string& folder);
    ~ServiceLog() override;
    ServiceLog(const ServiceLog&) = delete;
    ServiceLog& operator=(const ServiceLog&) = delete;

    void Line(LogLevel level, const std::string& text) override;
    std::string File() const;

private:
    void Open();

    std::mutex mutex_;
    std::wstring path_;
    std::FILE* file_ = nullptr;
    HANDLE events_ = nullptr;
};

}  // namespace ovrin::win32
