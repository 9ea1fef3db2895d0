#include "platform/win32/ServiceLog.h"

#include "platform/std/StderrLog.h"
#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

constexpr wchar_t kSource[] = L"Ovrin-Server";
constexpr wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ovrin-Server";
constexpr DWORD kLineMessage = 1;  // "%1" in the program's message table (messages.mc)
constexpr long kMostBytes = 1024 * 1024;

WORD EventType(LogLevel level) {
    switch (level) {
        case LogLevel::Error: return EVENTLOG_ERROR_TYPE;
        case LogLevel::Warning: return EVENTLOG_WARNING_TYPE;
        case LogLevel::Info: break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

std::string AddEventSource(const std::wstring& program) {
    HKEY key = nullptr;
    LSTATUS result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                     nullptr);
    if (result != ERROR_SUCCESS) return ErrorText(static_cast<DWORD>(result));
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    result = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                            static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    if (result == ERROR_SUCCESS)
        result = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                sizeof types);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string() : ErrorText(static_cast<DWORD>(result));
}

void RemoveEventSource() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey); }

ServiceLog::ServiceLog(const std::string& folder)
    : path_(Wide(folder) + L"\\ovrin-server.log"), events_(RegisterEventSourceW(nullptr, kSource)) {
    Open();
}

ServiceLog::~ServiceLog() {
    if (file_) std::fclose(file_);
    if (events_) DeregisterEventSource(events_);
}

std::string ServiceLog::File() const { return Utf8(path_); }

void ServiceLog::Open() {
    // Text mode: lines end in CR LF, for Notepad.
    file_ = _wfopen(path_.c_str(), L"a");
}

void ServiceLog::Line(LogLevel level, const std::string& text) {
    const std::string printable = StderrLog::Printable(text);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (file_) {
        std::fprintf(file_, "%s\n", StderrLog::Stamped(level, text).c_str());
        std::fflush(file_);
        if (std::ftell(file_) > kMostBytes) {
            std::fclose(file_);
            MoveFileExW(path_.c_str(), (path_ + L".old").c_str(), MOVEFILE_REPLACE_EXISTING);
            Open();
        }
    }
    if (events_) {
        const std::wstring line = Wide(printable);
        const wchar_t* strings[] = {line.c_str()};
        ReportEventW(events_, EventType(level), 0, kLineMessage, nullptr, 1, 0, strings, nullptr);
    }
}

}  // namespace ovrin::win32
