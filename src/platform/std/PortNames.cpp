#include "platform/std/PortNames.h"

#include <filesystem>
#include <system_error>

namespace ovrin {

std::string DeviceForPort(int port, const std::string& programFolder) {
    if (port < 1) return {};
#ifdef _WIN32
    (void)programFolder;
    return "\\\\.\\COM" + std::to_string(port);
#else
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path link = fs::path(programFolder) / "dosdevices" / ("com" + std::to_string(port));
    if (fs::is_symlink(link, ec) || fs::exists(link, ec)) return link.string();
    if (port > 16) return {};
    static const char* const kTable[4] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"};
    const int group = (port - 1) / 4;
    const int offset = (port - 1) % 4 + (group == 3 ? 4 : 0);
    return std::string(kTable[group]) + std::to_string(offset);
#endif
}

}  // namespace ovrin
