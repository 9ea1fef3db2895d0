#include "platform/std/FileHost.h"

#include <chrono>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

namespace ovrin {
namespace {

namespace fs = std::filesystem;

// The file a path leads to, links followed (one that leads nowhere yet included).
fs::path LinkTarget(fs::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
        const fs::path next = fs::read_symlink(path, ec);
        if (ec) throw PlatformError(path.string() + ": " + ec.message());
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    throw PlatformError(path.string() + ": " + std::strerror(ELOOP));
}

// Written beside the file it replaces and renamed over it, so a failed save never
// loses what was there, with the permissions of `modeOf` when that exists. The new
// file is created exclusively ("x"): a link planted at its name is never followed,
// only removed (which removes the link).
void ReplaceFile(const fs::path& path, const fs::path& modeOf, const std::function<bool(std::FILE*)>& write) {
    const std::string temp = path.string() + ".new";
    std::error_code ignored;
    const auto left = fs::symlink_status(temp, ignored).type();
    if (left == fs::file_type::regular || left == fs::file_type::symlink)
        fs::remove(temp, ignored);  // left by a save that was cut short, or planted
    std::FILE* out = std::fopen(temp.c_str(), "wbx");
    if (!out) throw PlatformError(std::strerror(errno));
    const bool written = write(out);
    const std::string why = std::strerror(errno);
    if (std::fclose(out) != 0 || !written) {
        fs::remove(temp, ignored);
        throw PlatformError(written ? std::strerror(errno) : why);
    }
    const fs::file_status was = fs::status(modeOf, ignored);
    if (fs::exists(was)) fs::permissions(temp, was.permissions(), ignored);
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ignored);
        throw PlatformError(ec.message());
    }
}

}  // namespace


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

Bytes FileHost::ReadRecord(const std::string& path, std::size_t length) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PlatformError(std::strerror(errno));
    Bytes record(length, '\0');
    in.read(record.data(), static_cast<std::streamsize>(length));
    if (static_cast<std::size_t>(in.gcount()) != length) throw PlatformError("Input past end of file");
    return record;
}

void FileHost::WriteRecord(const std::string& path, const Bytes& record) {
    // A settings file linked from elsewhere (a shared folder, a dotfiles tree)
    // stays linked: the file the link leads to is the one replaced.
    const fs::path target = LinkTarget(path);
    ReplaceFile(target, target, [&](std::FILE* out) {
        return std::fwrite(record.data(), 1, record.size(), out) == record.size();
    });
}

void FileHost::KeepCopy(const std::string& path, const std::string& copy) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PlatformError(std::strerror(errno));
    ReplaceFile(copy, path, [&](std::FILE* out) {
        char buffer[8192];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            const auto n = static_cast<std::size_t>(in.gcount());
            if (std::fwrite(buffer, 1, n, out) != n) return false;
        }
        return !in.bad();
    });
}

void FileHost::EndProgram() {
    if (endProgram_) endProgram_();
}

int64_t FileHost::MonotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t FileHost::WallClockMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace ovrin
