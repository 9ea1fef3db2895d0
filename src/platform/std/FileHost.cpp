#include "platform/std/FileHost.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace ovrin {
namespace fs = std::filesystem;

FileHost::FileHost(std::string programFolder, int major, int minor, int revision,
                   std::function<void()> endProgram)
    : folder_(std::move(programFolder)), major_(major), minor_(minor), revision_(revision),
      endProgram_(std::move(endProgram)) {}

char FileHost::PathSeparator() const {
    return static_cast<char>(fs::path::preferred_separator);
}

int64_t FileHost::FileLen(const std::string& path) const {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) throw PlatformError(ec.message());
    return static_cast<int64_t>(size);
}

void FileHost::Kill(const std::string& path) {
    std::error_code ec;
    if (!fs::remove(path, ec)) throw PlatformError(ec ? ec.message() : "File not found");
}

Bytes FileHost::ReadRecord(const std::string& path, std::size_t length) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PlatformError(std::strerror(errno));
    Bytes record(length, '\0');
    in.read(record.data(), static_cast<std::streamsize>(length));
    if (static_cast<std::size_t>(in.gcount()) != length) throw PlatformError("Input past end of file");
    return record;
}

// Written beside the old file and renamed over it, so a failed save never loses
// the settings that were there. The new file is created exclusively ("x"): a link
// planted at its name is never followed, only removed (which removes the link).
void FileHost::WriteRecord(const std::string& path, const Bytes& record) {
    const std::string temp = path + ".new";
    {
        std::error_code ignored;
        const auto left = fs::symlink_status(temp, ignored).type();
        if (left == fs::file_type::regular || left == fs::file_type::symlink)
            fs::remove(temp, ignored);  // left by a save that was cut short, or planted
        std::FILE* out = std::fopen(temp.c_str(), "wbx");
        if (!out) throw PlatformError(std::strerror(errno));
        const bool written = std::fwrite(record.data(), 1, record.size(), out) == record.size();
        const std::string why = std::strerror(errno);
        if (std::fclose(out) != 0 || !written) {
            fs::remove(temp, ignored);
            throw PlatformError(written ? std::strerror(errno) : why);
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw PlatformError(ec.message());
    }
}

void FileHost::EndProgram() {
    if (endProgram_) endProgram_();
}

}  // namespace ovrin
