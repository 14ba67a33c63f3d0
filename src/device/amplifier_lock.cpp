// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/amplifier_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace q7 {

namespace {

constexpr const char* kFileName = "q7edit-amplifier.lock";

bool isDirectory(const char* path) {
    struct stat st {};
    return path && *path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> candidates() {
    if (const char* f = std::getenv("Q7EDIT_LOCK_FILE"); f && *f)
        return {f};
    std::vector<std::string> paths;
    if (isDirectory("/run/lock"))
        paths.push_back(std::string("/run/lock/") + kFileName);
    if (const char* x = std::getenv("XDG_RUNTIME_DIR"); isDirectory(x))
        paths.push_back(std::string(x) + "/" + kFileName);
    paths.push_back("/tmp/q7edit-amplifier-" + std::to_string(::getuid()) + ".lock");
    return paths;
}

// The holder's line as written, kept to printable ASCII: anyone may write into a shared file.
std::string readHolder(int fd) {
    char buffer[160];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    std::string text;
    for (ssize_t i = 0; i < n; ++i) {
        const char c = buffer[i];
        if (c == '\n')
            break;
        if (c >= 0x20 && c < 0x7f)
            text += c;
    }
    return text;
}

} // namespace

std::string AmplifierLock::defaultPath() {
    return candidates().front();
}

AmplifierLock::Result AmplifierLock::acquire(const std::string& holder, const std::string& path) {
    return acquire(holder, path.empty() ? candidates() : std::vector<std::string>{path});
}

AmplifierLock::Result AmplifierLock::acquire(const std::string& holder,
                                             const std::vector<std::string>& paths) {
    if (fd_ >= 0)
        return Result::Taken;
    other_.clear();
    error_.clear();
    for (const std::string& p : paths) {
        bool writable = true;
        int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            // Made by another user, or a read-only view of /run/lock: a read-only descriptor
            // locks as well.
            writable = false;
            fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        }
        if (fd < 0) {
            error_ = p + ": " + std::strerror(errno);
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            error_ = p + ": not a plain file";
            ::close(fd);
            continue;
        }
        // Every user's programs must be able to open it (the umask would keep them out).
        if (writable && st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0666)
            ::fchmod(fd, 0666);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            if (e == EWOULDBLOCK) {
                other_ = readHolder(fd);
                ::close(fd);
                return Result::HeldByOther;
            }
            error_ = p + ": " + std::strerror(e);
            ::close(fd);
            continue;
        }
        if (writable) {
            const std::string line = holder + " (process " + std::to_string(::getpid()) + ")\n";
            // The line only helps the one refused: the lock holds whether it is written or not.
            if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, line.data(), line.size(), 0) < 0) {
            }
        }
        fd_ = fd;
        error_.clear();
        return Result::Taken;
    }
    return Result::Unavailable;
}

void AmplifierLock::release() {
    if (fd_ < 0)
        return;
    // The file stays: removing it would race with one who has just opened it.
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

std::string amplifierInUseMessage(const std::string& other, bool english) {
    if (english)
        return "The amplifier is in use by " + (other.empty() ? "another program" : other) +
               ". Close it, then connect again.";
    return "功放正被" + (other.empty() ? std::string("另一个程序") : other) +
           "使用。请先关闭它，再连接。";
}

} // namespace q7
