#include "platform/FileHost.h"

#include <cerrno>
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
// the settings that were there.
void FileHost::WriteRecord(const std::string& path, const Bytes& record) {
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) throw PlatformError(std::strerror(errno));
        out.write(record.data(), static_cast<std::streamsize>(record.size()));
        out.flush();
        if (!out) {
            const std::string why = std::strerror(errno);
            std::error_code ignored;
            fs::remove(temp, ignored);
            throw PlatformError(why);
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
