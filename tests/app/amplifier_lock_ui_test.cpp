// SPDX-License-Identifier: GPL-3.0-or-later
// The editor and the amplifier lock it shares with q7ctl: held while the editor has the
// amplifier, free otherwise. The simulated amplifier stands for the USB one; the test plays the
// other program.
#include "device/amplifier_lock.h"
#include "editor_rig.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

// Each test its own lock file: tests run side by side.
struct LockRig {
    explicit LockRig(SimOptions sim) : rig(sim, [this](EditorOptions& o) { o.lockFile = path; }) {}

    QTemporaryDir locks;
    std::string path = locks.filePath("amplifier.lock").toStdString();
    EditorRig rig;
};

// Whether another program could take the amplifier now (and lets it go again).
bool freeFor(const std::string& path) {
    AmplifierLock other;
    return other.acquire("q7ctl get", path) == AmplifierLock::Result::Taken;
}

const std::string kSelf = "(process " + std::to_string(::getpid()) + ")";

} // namespace

TEST(EditorAmplifierLock, HeldOnlyWhileTheEditorHasTheAmplifier) {
    LockRig t(SimOptions{.startUnplugged = true});
    EditorRig& rig = t.rig;
    rig.run(2000); // the start-up connect found nothing
    ASSERT_FALSE(rig.editor->linkOpen());
    EXPECT_TRUE(freeFor(t.path)) << "an editor without an amplifier leaves it to the others";

    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    AmplifierLock serve;
    EXPECT_EQ(serve.acquire("q7ctl serve", t.path), AmplifierLock::Result::HeldByOther);
    EXPECT_EQ(serve.other(), "q7edit " + kSelf);

    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    EXPECT_TRUE(freeFor(t.path)) << "let go with the amplifier";

    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    EXPECT_FALSE(freeFor(t.path)) << "taken again on arrival";

    // Closing the window: kept while the close still sends, let go as the program ends.
    rig.sim.setDropEvery(1); // nothing answers: the close takes its time
    Link& link = rig.editor->connection().link;
    link.write(shortCommand(CMD_GET_MODE));
    rig.frame().show();
    rig.editor->store().setParametersChanged(false);
    ASSERT_TRUE(rig.frame().close());
    ASSERT_TRUE(link.closing());
    rig.run(10);
    EXPECT_FALSE(freeFor(t.path)) << "the close is still sending";
    EXPECT_TRUE(rig.prompter.told.empty());
    rig.editor.reset();
    EXPECT_TRUE(freeFor(t.path));
}

TEST(EditorAmplifierLock, AnotherHolderIsToldOnceAndTheArrivalAfterItLetGoConnects) {
    LockRig t(SimOptions{});
    EditorRig& rig = t.rig;
    rig.editor->setLanguageIndex(kEnglish);
    AmplifierLock serve;
    ASSERT_EQ(serve.acquire("q7ctl serve", t.path), AmplifierLock::Result::Taken);
    rig.run(2000);
    EXPECT_FALSE(rig.editor->linkOpen());
    EXPECT_EQ(rig.sim.requestsSeen(), 0) << "not a report beside the other program's";
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.icons[0], BoxIcon::Warning);
    EXPECT_EQ(rig.prompter.told[0].caption, "Error");
    EXPECT_EQ(rig.prompter.told[0].text.toStdString(), "The amplifier is in use by q7ctl serve " +
                                                           kSelf +
                                                           ". Close it, then connect again.");

    // Replugged while the other still has it: tried again, not told again.
    rig.sim.unplug();
    rig.run(500);
    rig.sim.plug();
    rig.run(2000);
    EXPECT_FALSE(rig.editor->linkOpen());
    EXPECT_EQ(rig.prompter.told.size(), 1u);

    serve.release();
    rig.sim.unplug();
    rig.run(500);
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(serve.acquire("q7ctl serve", t.path), AmplifierLock::Result::HeldByOther);
    EXPECT_EQ(rig.prompter.told.size(), 1u);

    // Quitting lets go, the amplifier still plugged in.
    rig.editor.reset();
    EXPECT_EQ(serve.acquire("q7ctl serve", t.path), AmplifierLock::Result::Taken);
}

// A broken link is closed and reopened: in between, the amplifier is free for the others, and a
// reconnect attempt that finds it taken waits for the next one.
TEST(EditorAmplifierLock, AReconnectFindsItTakenThenConnectsOnceItIsFree) {
    LockRig t(SimOptions{.readErrorAfter = 250}); // after the synchronisation, in the poll
    EditorRig& rig = t.rig;
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runUntil(
        [&] {
            return rig.view().lastBalloon().size() == 2 &&
                   rig.view().lastBalloon()[1].contains(QString::fromUtf8("重新连接"));
        },
        120000));
    ASSERT_FALSE(rig.editor->linkOpen());
    AmplifierLock serve;
    ASSERT_EQ(serve.acquire("q7ctl serve", t.path), AmplifierLock::Result::Taken)
        << "a broken link lets go until the editor tries again";

    ASSERT_TRUE(rig.runUntil([&] { return !rig.prompter.told.empty(); }, 2 * kReconnectMs));
    EXPECT_NE(rig.prompter.told[0].text.indexOf("q7ctl serve"), -1);
    rig.run(kReconnectMs);
    EXPECT_FALSE(rig.editor->linkOpen());
    EXPECT_EQ(rig.prompter.told.size(), 1u) << "the next attempt is refused without a box";

    serve.release();
    ASSERT_TRUE(
        rig.runUntil([&] { return rig.editor->linkOpen(); }, kReconnectTries * kReconnectMs));
    ASSERT_TRUE(rig.connect());
    EXPECT_FALSE(freeFor(t.path));
}
