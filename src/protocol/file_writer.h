// SPDX-License-Identifier: GPL-3.0-or-later
// The one way the programs write a whole file: every write and the final commit are checked, a
// failure leaves the previous file as it was, and the caller gets a reason a user understands.
// A regular file is replaced atomically (written beside it and renamed over it) keeping its mode
// and owner; a symbolic link is written through to its target; a device or pipe (standard
// output, /dev/full) is written in place.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace q7 {

enum class WriteFailure {
    None,
    DiskFull,         // no space (or quota) left
    ReadOnlyFile,     // the file itself allows no writing
    ReadOnlyFolder,   // the folder it would go into allows no writing
    ReadOnlyDisk,     // a read-only file system
    PermissionDenied, // the system refused for want of rights
    NoFolder,         // the folder does not exist
    NotAFile,         // a folder stands at the path
    Other,
};

struct WriteResult {
    WriteFailure failure = WriteFailure::None;
    int systemError = 0; // errno where the system gave one
    explicit operator bool() const { return failure == WriteFailure::None; }
};

// Why a write failed, in both languages: "disk full" / "磁盘已满" and so on.
struct WriteReason {
    std::string zh, en;
};
WriteReason writeReason(const WriteResult& r);
// "cannot write PATH: REASON", for the command line and logs.
std::string describeWrite(const WriteResult& r, const std::string& path);

class FileWriter {
public:
    WriteResult write(const std::string& path, std::span<const std::uint8_t> bytes) const;
    WriteResult write(const std::string& path, const std::string& text) const {
        return write(path,
                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }

    // Tests: every data write from now on fails with this errno (0 ends it), as a full disk
    // fails part way through a file.
    void failWritesWith(int error) { injected_ = error; }

private:
    int injected_ = 0;
};

} // namespace q7
