// SPDX-License-Identifier: GPL-3.0-or-later
// The amplifier lock, and q7ctl serve's command line where it needs no server.
#include "cli/q7ctl.h"
#include "cli/serve_command.h"
#include "device/amplifier_lock.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace q7;

namespace {

std::string lockPath(const std::string& name) {
    return testing::TempDir() + "q7lock-" + std::to_string(::getpid()) + "-" + name;
}

TEST(AmplifierLock, TheSecondHolderIsRefusedAndToldWhoHasIt) {
    const std::string path = lockPath("second");
    AmplifierLock first, second;
    ASSERT_EQ(first.acquire("q7ctl serve", path), AmplifierLock::Result::Taken);
    EXPECT_TRUE(first.held());
    // Taking it again is no error; another holder is refused, even in the same process.
    EXPECT_EQ(first.acquire("q7ctl serve", path), AmplifierLock::Result::Taken);
    EXPECT_EQ(second.acquire("q7edit", path), AmplifierLock::Result::HeldByOther);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(second.other(), "q7ctl serve (process " + std::to_string(::getpid()) + ")");
    EXPECT_EQ(amplifierInUseMessage(second.other(), true),
              "The amplifier is in use by " + second.other() + ". Close it, then connect again.");
    EXPECT_NE(amplifierInUseMessage("", false).find("另一个程序"), std::string::npos);

    first.release();
    EXPECT_FALSE(first.held());
    EXPECT_EQ(second.acquire("q7edit", path), AmplifierLock::Result::Taken);
    // The file stays behind; whoever comes next reads the new holder.
    AmplifierLock third;
    EXPECT_EQ(third.acquire("q7ctl get", path), AmplifierLock::Result::HeldByOther);
    EXPECT_EQ(third.other(), "q7edit (process " + std::to_string(::getpid()) + ")");
    second.release();
    ::unlink(path.c_str());
}

TEST(AmplifierLock, AHolderThatDiesLeavesNoStaleLock) {
    const std::string path = lockPath("dies");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AmplifierLock lock;
        const char ok = lock.acquire("crashing holder", path) == AmplifierLock::Result::Taken;
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
        ::pause(); // killed by the parent without any clean-up
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 1);
    AmplifierLock lock;
    EXPECT_EQ(lock.acquire("q7edit", path), AmplifierLock::Result::HeldByOther);
    EXPECT_EQ(lock.other(), "crashing holder (process " + std::to_string(child) + ")");
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(lock.acquire("q7edit", path), AmplifierLock::Result::Taken);
    ::unlink(path.c_str());
}

TEST(AmplifierLock, AFileThatCannotBeMadeIsUnavailableNotHeld) {
    AmplifierLock lock;
    const std::string missing = lockPath("no-such-dir") + "/x.lock";
    EXPECT_EQ(lock.acquire("q7edit", missing), AmplifierLock::Result::Unavailable);
    EXPECT_NE(lock.error().find(missing), std::string::npos);
    EXPECT_FALSE(lock.held());
    // A directory or a symbolic link where the file should be is not taken for it.
    const std::string dir = lockPath("dir");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    EXPECT_EQ(lock.acquire("q7edit", dir), AmplifierLock::Result::Unavailable);
    const std::string link = lockPath("link");
    ASSERT_EQ(::symlink(lockPath("target").c_str(), link.c_str()), 0);
    EXPECT_EQ(lock.acquire("q7edit", link), AmplifierLock::Result::Unavailable);
    ::rmdir(dir.c_str());
    ::unlink(link.c_str());
}

// The places are tried in turn: one that cannot hold a lock file is passed over, the first
// that can decides, even when another program holds it there.
TEST(AmplifierLock, ThePlacesAreTriedInTurn) {
    const std::string missing = lockPath("turn-no-dir") + "/x.lock";
    const std::string dir = lockPath("turn-dir");
    const std::string first = lockPath("turn-first"), later = lockPath("turn-later");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    AmplifierLock serve, editor;
    ASSERT_EQ(serve.acquire("q7ctl serve", std::vector<std::string>{missing, dir, first}),
              AmplifierLock::Result::Taken);
    EXPECT_EQ(editor.acquire("q7edit", std::vector<std::string>{dir, first, later}),
              AmplifierLock::Result::HeldByOther);
    EXPECT_EQ(editor.other(), "q7ctl serve (process " + std::to_string(::getpid()) + ")");
    EXPECT_NE(::access(later.c_str(), F_OK), 0) << "not a second lock beside the first";
    serve.release();
    EXPECT_EQ(editor.acquire("q7edit", std::vector<std::string>{dir, first, later}),
              AmplifierLock::Result::Taken);
    editor.release();

    EXPECT_EQ(editor.acquire("q7edit", std::vector<std::string>{missing, dir}),
              AmplifierLock::Result::Unavailable);
    EXPECT_NE(editor.error().find(dir), std::string::npos) << editor.error();
    ::rmdir(dir.c_str());
    ::unlink(first.c_str());
}

TEST(AmplifierLock, AReadOnlyLockFileStillLocks) {
    // Another user's file in the shared directory: it cannot be written, but it locks.
    const std::string path = lockPath("readonly");
    {
        AmplifierLock maker;
        ASSERT_EQ(maker.acquire("q7edit", path), AmplifierLock::Result::Taken);
    }
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    if (::access(path.c_str(), W_OK) == 0)
        GTEST_SKIP() << "running as root: every file is writable";
    AmplifierLock first, second;
    EXPECT_EQ(first.acquire("q7ctl serve", path), AmplifierLock::Result::Taken);
    EXPECT_EQ(second.acquire("q7ctl get", path), AmplifierLock::Result::HeldByOther);
    EXPECT_EQ(second.other(), "q7edit (process " + std::to_string(::getpid()) + ")")
        << "the line of the last one who could write it";
    first.release();
    ::unlink(path.c_str());
}

struct CliRun {
    int code;
    std::string out, err;
};

CliRun q7ctl(const std::vector<std::string>& args, const Q7ctlEnvironment& env = {}) {
    std::ostringstream out, err;
    const int code = runQ7ctl(args, out, err, env);
    return {code, out.str(), err.str()};
}

TEST(Q7ctlServe, BadUsageExitsTwoBeforeAnythingIsOpened) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--simulator", "serve", "--guest-pin", "1234", "--guest-open"},
             {"--simulator", "serve", "--listen", "8470"},
             {"--simulator", "serve", "--listen", "127.0.0.1:99999"},
             {"--simulator", "serve", "--listen", "127.0.0.1:"},
             {"--simulator", "serve", "--listen", "::1:8470"},
             {"--simulator", "serve", "--listen", "127.0.0.1:84x0"},
             {"--simulator", "serve", "--owner-pin", ""},
             {"--simulator", "serve", "--guest-pin", ""},
             {"--simulator", "serve", "--port", "8470"},
             {"--simulator", "serve", "extra"},
         }) {
        const CliRun r = q7ctl(args);
        EXPECT_EQ(r.code, kExitUsage) << args.back() << ": " << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("q7ctl: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST(Q7ctlServe, ABuildWithoutTheServerSaysSo) {
    // runQ7ctl without a serve function is the q7ctl built without Qt.
    const CliRun r = q7ctl({"--simulator", "serve"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("serve is not in this build of q7ctl"), std::string::npos) << r.err;
    // Its usage line carries the exclusive guest options as one choice.
    const CliRun help = q7ctl({"help", "serve"});
    EXPECT_NE(help.out.find("[--guest-pin PIN | --guest-open]"), std::string::npos) << help.out;
}

TEST(Q7ctlServe, ListenAddressesSplit) {
    std::string address;
    int port = -1;
    ASSERT_TRUE(splitListen("0.0.0.0:0", address, port));
    EXPECT_EQ(address, "0.0.0.0");
    EXPECT_EQ(port, 0);
    ASSERT_TRUE(splitListen("[::1]:8470", address, port));
    EXPECT_EQ(address, "::1");
    EXPECT_EQ(port, 8470);
    EXPECT_FALSE(splitListen("[]:8470", address, port));
    EXPECT_FALSE(splitListen(":8470", address, port));
    EXPECT_FALSE(splitListen("host:123456", address, port));
}

} // namespace
