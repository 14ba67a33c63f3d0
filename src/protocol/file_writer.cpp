// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/file_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace q7 {

namespace {

WriteResult failed(WriteFailure f, int error) {
    return WriteResult{f, error};
}

WriteResult fromErrno(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return failed(WriteFailure::DiskFull, error);
    case EROFS:
        return failed(WriteFailure::ReadOnlyDisk, error);
    case EACCES:
    case EPERM:
        return failed(WriteFailure::PermissionDenied, error);
    case ENOENT:
    case ENOTDIR:
        return failed(WriteFailure::NoFolder, error);
    case EISDIR:
        return failed(WriteFailure::NotAFile, error);
    default:
        return failed(WriteFailure::Other, error ? error : EIO);
    }
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path finally names: symbolic links are followed (also a dangling one, whose target
// the save then creates), so the link itself stays a link.
std::string resolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> buf(std::size_t(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n <= 0 || std::size_t(n) >= buf.size())
            return path;
        const std::string link(buf.data(), std::size_t(n));
        path = link.front() == '/' ? link : folderOf(path) + "/" + link;
    }
    return path;
}

// The mode a new file gets: 0666 less the process's umask, read without changing it (umask()
// would change it for every thread for a moment).
mode_t newFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return mode_t(0666 & ~std::strtoul(line.c_str() + 6, nullptr, 8));
    return 0644;
}

// Writes all bytes; the errno of the first failure, or 0.
int writeAll(int fd, std::span<const std::uint8_t> bytes, int injected) {
    if (injected)
        return injected;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        done += std::size_t(n);
    }
    return 0;
}

// A device, a pipe or standard output: nothing to replace, only written and checked.
WriteResult writeInPlace(const std::string& path, std::span<const std::uint8_t> bytes,
                         int injected, int flags = O_TRUNC) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags);
    if (fd < 0)
        return fromErrno(errno);
    int error = writeAll(fd, bytes, injected);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error ? fromErrno(error) : WriteResult{};
}

std::vector<std::uint8_t> readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

WriteReason writeReason(const WriteResult& r) {
    switch (r.failure) {
    case WriteFailure::None:
        return {"已保存", "saved"};
    case WriteFailure::DiskFull:
        return {"磁盘已满", "disk full"};
    case WriteFailure::ReadOnlyFile:
        return {"文件是只读的", "the file is read-only"};
    case WriteFailure::ReadOnlyFolder:
        return {"文件夹是只读的", "the folder is read-only"};
    case WriteFailure::ReadOnlyDisk:
        return {"磁盘是只读的", "the disk is read-only"};
    case WriteFailure::PermissionDenied:
        return {"没有写入权限", "permission denied"};
    case WriteFailure::NoFolder:
        return {"文件夹不存在", "the folder does not exist"};
    case WriteFailure::NotAFile:
        return {"这是一个文件夹，不是文件", "a folder has that name"};
    case WriteFailure::Other:
        break;
    }
    const std::string system = std::strerror(r.systemError ? r.systemError : EIO);
    return {"写入出错（" + system + "）", "write error (" + system + ")"};
}

std::string describeWrite(const WriteResult& r, const std::string& path) {
    return "cannot write " + path + ": " + writeReason(r).en;
}

WriteResult FileWriter::write(const std::string& path, std::span<const std::uint8_t> bytes) const {
    // /dev/stdout and /proc/self/fd/N name an open descriptor (a terminal, a pipe, a file opened
    // with >>): written as it is, never replaced by a new file.
    if (path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0) {
        struct stat st {};
        // Appended: a descriptor the shell opened with > is empty, one opened with >> keeps
        // what it holds.
        if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            return writeInPlace(path, bytes, injected_, O_APPEND);
    }
    const std::string target = resolveLinks(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return failed(WriteFailure::NotAFile, EISDIR);
        if (!S_ISREG(st.st_mode))
            return writeInPlace(target, bytes, injected_);
        // Refused like any editor refuses a read-only file, even where the rights would let
        // the file be replaced (the folder's owner, the administrator).
        if ((st.st_mode & 0222) == 0)
            return failed(WriteFailure::ReadOnlyFile, EACCES);
        if (::access(target.c_str(), W_OK) != 0)
            return errno == EACCES ? failed(WriteFailure::ReadOnlyFile, EACCES) : fromErrno(errno);
    }
    const std::string folder = folderOf(target);
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0)
        return failed(WriteFailure::NoFolder, errno);
    if (!S_ISDIR(dir.st_mode))
        return failed(WriteFailure::NoFolder, ENOTDIR);
    if ((dir.st_mode & 0222) == 0)
        return failed(WriteFailure::ReadOnlyFolder, EACCES);

    std::string temp = folder + "/." + target.substr(target.find_last_of('/') + 1) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int error = errno;
        return error == EACCES ? failed(WriteFailure::ReadOnlyFolder, error) : fromErrno(error);
    }
    auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        return fromErrno(error);
    };
    if (exists) {
        if (::fchmod(fd, st.st_mode & 07777) != 0)
            return abandon(errno);
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Replacing would hand someone else's file to us: write it in place instead, and
            // put the old contents back should that fail.
            ::close(fd);
            ::unlink(temp.c_str());
            const std::vector<std::uint8_t> old = readWhole(target);
            const WriteResult r = writeInPlace(target, bytes, injected_);
            if (!r)
                writeInPlace(target, old, 0);
            return r;
        }
    } else if (::fchmod(fd, newFileMode()) != 0) {
        return abandon(errno);
    }
    if (const int error = writeAll(fd, bytes, injected_))
        return abandon(error);
    if (::fsync(fd) != 0)
        return abandon(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return fromErrno(error);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return fromErrno(error);
    }
    // The new name reaches the disk too, not only the contents.
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

} // namespace q7
