#pragma once
// Which device stands behind COMn on this system.
//  - Unix: the link <settings folder>/dosdevices/comn when it exists (its name in
//    any case: com5 or COM5), otherwise a fixed table: COM1-4 /dev/ttyS0-3, COM5-8
//    /dev/ttyUSB0-3, COM9-12 /dev/ttyACM0-3, COM13-16 /dev/ttyS4-7; COM17 to COM256
//    only through a link.
//  - Windows: the port of that name.
#include <string>

namespace ovrin {

std::string DeviceForPort(int port, const std::string& programFolder);

// The dosdevices link of COMn, as it is spelt in the folder; empty when there is none.
std::string PortLink(int port, const std::string& programFolder);

// A COM name for a device path: the port whose dosdevices link already points to
// that path, else the lowest of COM1 to COM256 without a link, linked to it now.
struct LinkedPort {
    int port = 0;        // 0: failed, see error
    bool made = false;   // the link was made now
    std::string error;   // naming the device, and the link where one was tried
};
LinkedPort LinkPortToDevice(const std::string& device, const std::string& programFolder);

}  // namespace ovrin
