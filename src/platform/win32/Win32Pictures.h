#pragma once
// The status pictures imgConn shows, by key, drawn once with GDI at start-up in the
// window's face colour: "initial", "wifi_off", "wifi_listen1".."4",
// "wifi_online1".."4" (the keys of the Qt realisation's pictures).
#include <windows.h>

#include <map>
#include <string>

namespace ovrin::win32 {

class Win32Pictures {
public:
    static constexpr int kWidth = 224;
    static constexpr int kHeight = 62;

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
