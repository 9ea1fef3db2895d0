#pragma once
// The status pictures imgConn shows, by key: the shared drawing
// (platform/shared/StatusShapes.h) painted once with GDI at start-up, on the
// window's face colour. The window's icon is the program's resource.
#include <windows.h>

#include <map>
#include <string>

namespace ovrin::win32 {

class Win32Pictures {
public:
    Win32Pictures();
    ~Win32Pictures();
    Win32Pictures(const Win32Pictures&) = delete;
    Win32Pictures& operator=(const Win32Pictures&) = delete;

    // nullptr for a key it does not hold.
    HBITMAP Picture(const std::string& key) const;

private:
    std::map<std::string, HBITMAP> pictures_;
};

}  // namespace ovrin::win32
