// SPDX-License-Identifier: GPL-3.0-or-later
// One program at a time holds the amplifier: the editor, q7ctl serve or a q7ctl command. Two
// holders would interleave their reports and each take the other's replies for its own. The
// lock is an flock on a file every user can reach (the daemon usually runs as a service user,
// the editor as the desktop user); the kernel drops it when the holder exits or crashes, so a
// stale file never blocks anyone.
#pragma once

#include <string>
#include <vector>

namespace q7 {

class AmplifierLock {
public:
    enum class Result {
        Taken, // this program holds the amplifier now
        HeldByOther,
        Unavailable, // no lock file could be opened anywhere: going on unlocked is the caller's
                     // call
    };

    AmplifierLock() = default;
    ~AmplifierLock() { release(); }
    AmplifierLock(const AmplifierLock&) = delete;
    AmplifierLock& operator=(const AmplifierLock&) = delete;

    // Q7EDIT_LOCK_FILE when set; else /run/lock/q7edit-amplifier.lock, shared by every user;
    // else in $XDG_RUNTIME_DIR; else /tmp/q7edit-amplifier-<uid>.lock.
    static std::string defaultPath();

    // Takes the lock without waiting. holder names this program in the file ("q7edit",
    // "q7ctl serve"), so that the one refused can say who has it. Taking it again while held
    // is Taken. An empty path tries the places defaultPath() names, in its order.
    Result acquire(const std::string& holder, const std::string& path = {});
    // The first of paths that can be opened decides: taken there, or held by another there.
    Result acquire(const std::string& holder, const std::vector<std::string>& paths);
    void release();
    bool held() const { return fd_ >= 0; }

    // After HeldByOther: who holds it, "q7ctl serve (process 1234)", or empty when it did not
    // say. After Unavailable: why.
    const std::string& other() const { return other_; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string other_, error_;
};

// "The amplifier is in use by q7ctl serve (process 1234): close it first." in English or
// Chinese, for the one refused. other may be empty.
std::string amplifierInUseMessage(const std::string& other, bool english);

} // namespace q7
