#pragma once
// Which device stands behind COMn on this system.
//  - Unix: the link <program folder>/dosdevices/comn (lower case) when it exists,
//    otherwise a fixed table: COM1-4 /dev/ttyS0-3, COM5-8 /dev/ttyUSB0-3,
//    COM9-12 /dev/ttyACM0-3, COM13-16 /dev/ttyS4-7; nothing above COM16.
//  - Windows: the port of that name.
#include <string>

namespace ovrin {

std::string DeviceForPort(int port, const std::string& programFolder);

}  // namespace ovrin
