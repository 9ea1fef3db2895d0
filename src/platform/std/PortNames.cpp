#include "platform/std/PortNames.h"

#include <filesystem>
#include <system_error>

namespace ovrin {
namespace {

namespace fs = std::filesystem;

// As many as Windows numbers (COM1 to COM256).
constexpr int kLinkedPorts = 256;

// "com5", "COM5", "Com5": the port number, else 0.
int PortOfName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return 0;
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm' || name[3] == '0') return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

}  // namespace

std::string PortLink(int port, const std::string& programFolder) {
    if (port < 1) return {};
    std::error_code ec;
    const fs::path folder = fs::path(programFolder) / "dosdevices";
    // The usual spelling first: no directory scan on every lookup.
    const fs::path usual = folder / ("com" + std::to_string(port));
    if (fs::is_symlink(usual, ec) || fs::exists(usual, ec)) return usual.string();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (PortOfName(it->path().filename().string()) == port) return it->path().string();
    return {};
}

std::string DeviceForPort(int port, const std::string& programFolder) {
    if (port < 1) return {};
#ifdef _WIN32
    (void)programFolder;
    return "\\\\.\\COM" + std::to_string(port);
#else
    const std::string link = PortLink(port, programFolder);
    if (!link.empty()) return link;
    if (port > 16) return {};
    static const char* const kTable[4] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"};
    const int group = (port - 1) / 4;
    const int offset = (port - 1) % 4 + (group == 3 ? 4 : 0);
    return std::string(kTable[group]) + std::to_string(offset);
#endif
}

LinkedPort LinkPortToDevice(const std::string& device, const std::string& programFolder) {
    LinkedPort result;
    const fs::path wanted = fs::path(device).lexically_normal();
    const fs::path folder = fs::path(programFolder) / "dosdevices";
    std::error_code ec;
    for (int port = 1; port <= kLinkedPorts; ++port) {
        const std::string link = PortLink(port, programFolder);
        if (link.empty()) continue;
        const fs::path target = fs::read_symlink(link, ec);
        if (!ec && target.lexically_normal() == wanted) {
            result.port = port;
            return result;
        }
    }
    for (int port = 1; port <= kLinkedPorts; ++port) {
        if (!PortLink(port, programFolder).empty()) continue;
        const fs::path link = folder / ("com" + std::to_string(port));
        fs::create_directories(folder, ec);
        if (!ec) fs::create_symlink(wanted, link, ec);
        if (ec) {
            result.error = "COM" + std::to_string(port) + " (" + device + "): cannot make the link " + link.string() +
                           ": " + ec.message();
            return result;
        }
        result.port = port;
        result.made = true;
        return result;
    }
    result.error = device + ": COM1 to COM" + std::to_string(kLinkedPorts) + " are all linked to other devices in " +
                   folder.string();
    return result;
}

}  // namespace ovrin
