#pragma once
// The system speaks UTF-8; Win32 speaks UTF-16. And the system's wording for a
// Win32 error code.
#include <windows.h>

#include <string>

namespace ovrin::win32 {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// FormatMessage's text for the code, without the trailing line break.
std::string ErrorText(DWORD code);

}  // namespace ovrin::win32
