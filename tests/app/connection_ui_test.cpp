// The connection flows as the user sees them, on virtual time.
#include "app/about_dialog.h"
#include "app/single_instance.h"
#include "app/sync_dialog.h"
#include "editor_rig.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

TEST(ConnectionUi, StartUpConnectSynchronisesAndPolls) {
    EditorRig rig;
    rig.run(200);
    EXPECT_FALSE(rig.editor->linkOpen()) << "the start-up connect waits 250 ms";
    rig.run(100);
    EXPECT_TRUE(rig.editor->linkOpen());
    ASSERT_NE(rig.view().syncDialog(), nullptr);
    EXPECT_EQ(rig.view().syncDialog()->text(),
              QString::fromUtf8("当前正在与机器同步数据,请稍后......"));
    EXPECT_EQ(rig.view().lastBalloon(),
              (QStringList{QString::fromUtf8("信息"), QString::fromUtf8("设备已连接，同步中……")}));
    ASSERT_TRUE(rig.connect());
    EXPECT_TRUE(rig.view().levelPollRunning());
    EXPECT_EQ(rig.status().usbPane()->text(), QString::fromUtf8("USB：已连接"));
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 60) << "refreshed from the store";

    // The level poll asks every 300 ms once the worker has re-enabled it.
    rig.run(1000);
    rig.clearTrace();
    rig.run(900);
    int polls = 0;
    {
        std::lock_guard l(rig.mutex);
        for (const TraceLine& t : rig.lines)
            polls += t.direction == Direction::ToAmplifier && t.report[1] == CMD_GET_LEVELS;
    }
    EXPECT_EQ(polls, 3);
}

TEST(ConnectionUi, ArrivalConnectsAndRemovalShowsTheBalloon) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.editor->setLanguageIndex(kEnglish);
    rig.run(2000);
    EXPECT_FALSE(rig.editor->linkOpen()) << "nothing attached: nothing shown";
    EXPECT_TRUE(rig.prompter.told.empty());

    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.view().lastBalloon(), (QStringList{"Information", "Device connected!"}));

    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    rig.run(10);
    EXPECT_EQ(rig.view().lastBalloon(), (QStringList{"Information", "Device Disconnected!"}));
    EXPECT_FALSE(rig.view().levelPollRunning());
    EXPECT_EQ(rig.status().usbPane()->text(), "USB:Disconnected");

    rig.sim.plug();
    EXPECT_TRUE(rig.connect()) << "the next arrival connects again";
}

TEST(ConnectionUi, WrongModelAndProtocolShowTheirBoxes) {
    {
        EditorRig rig(SimOptions{.model = "Q8"});
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, 20000);
        ASSERT_EQ(rig.prompter.told.size(), 1u);
        EXPECT_EQ(rig.prompter.told[0].caption, QString::fromUtf8("错误"));
        EXPECT_EQ(rig.prompter.told[0].text, QString::fromUtf8("机器型号与软件不匹配!"));
        EXPECT_FALSE(rig.editor->linkOpen());
        EXPECT_EQ(rig.sent().back(), shortCommand(CMD_CLOSE));
        EXPECT_EQ(rig.view().syncDialog(), nullptr);
    }
    {
        EditorRig rig(SimOptions{.protocol = 10});
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, 20000);
        ASSERT_EQ(rig.prompter.told.size(), 1u);
        EXPECT_EQ(rig.prompter.told[0].text,
                  QString::fromUtf8("机器与软件通信版本不匹配，请使用机器配套软件!"));
        EXPECT_EQ(rig.sent().back(), shortCommand(CMD_CLOSE));
    }
}

TEST(ConnectionUi, ASlowAmplifierEndsInTheDialogTimeout) {
    // 200 ms per reply: the 183 requests of a synchronisation take longer than the guard.
    EditorRig rig(SimOptions{.latencyUs = 200000});
    rig.run(300);
    ASSERT_NE(rig.view().syncDialog(), nullptr);
    rig.run(29000);
    EXPECT_NE(rig.view().syncDialog(), nullptr);
    rig.runUntil([&] { return !rig.prompter.told.empty(); }, 2000);
    ASSERT_FALSE(rig.prompter.told.empty());
    EXPECT_EQ(rig.prompter.told[0].text, QString::fromUtf8("发生错误，与设备数据同步超时……"));
    rig.run(10);
    EXPECT_EQ(rig.view().syncDialog(), nullptr);
    EXPECT_TRUE(rig.editor->linkOpen()) << "the link stays open after the timeout";
    // The worker goes on; its end still runs the check normally.
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.editor->connection().state.modeNames().get(3), u"Party");
    EXPECT_EQ(rig.prompter.told.size(), 1u);
}

TEST(ConnectionUi, ASilentAmplifierFailsTheModelCheck) {
    EditorRig rig(SimOptions{.silent = true});
    rig.runUntil([&] { return !rig.prompter.told.empty(); }, 20000);
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].text, QString::fromUtf8("机器型号与软件不匹配!"));
    EXPECT_FALSE(rig.editor->linkOpen());
}

TEST(ConnectionUi, ClosingAsksOnlyWhenChangedAndSendsCmdClose) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.frame().show();
    rig.editor->store().setParametersChanged(true);
    rig.prompter.answers = {Answer::Cancel};
    EXPECT_FALSE(rig.frame().close());
    ASSERT_EQ(rig.prompter.asked.size(), 1u);
    EXPECT_EQ(rig.prompter.asked[0].caption, QString::fromUtf8("保存?"));
    EXPECT_TRUE(rig.editor->linkOpen());

    rig.clearTrace();
    rig.prompter.answers = {Answer::No};
    EXPECT_TRUE(rig.frame().close());
    EXPECT_FALSE(rig.editor->linkOpen());
    EXPECT_EQ(rig.sent().back(), shortCommand(CMD_CLOSE));
}

TEST(ConnectionUi, ClosingUnchangedAsksNothing) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.frame().show();
    rig.editor->store().setParametersChanged(false);
    EXPECT_TRUE(rig.frame().close());
    EXPECT_TRUE(rig.prompter.asked.empty());
    EXPECT_EQ(rig.sent().back(), shortCommand(CMD_CLOSE));
}

TEST(SingleInstanceGuard, ASecondStartRaisesTheFirstWithItsFile) {
    const QString name = QString("q7edit-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    ASSERT_TRUE(first.becomePrimary());
    QString received;
    bool activated = false;
    QObject::connect(&first, &SingleInstance::activated, [&](const QString& f) {
        activated = true;
        received = f;
    });
    SingleInstance second(name);
    EXPECT_FALSE(second.becomePrimary());
    EXPECT_TRUE(second.notifyPrimary("/tmp/party.q7M"));
    QElapsedTimer t;
    t.start();
    while (!activated && t.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(activated);
    EXPECT_EQ(received, "/tmp/party.q7M");
}

TEST(AboutBox, IdentityWhenConnectedAndTheHiddenPeakSwitch) {
    EditorRig rig;
    {
        CAboutDlg closed(rig.editor->connection(), rig.editor->language(), nullptr);
        EXPECT_TRUE(closed.mcuLine()->isHidden()) << "link closed: only the build line";
        EXPECT_TRUE(closed.peak()->isHidden());
    }
    ASSERT_TRUE(rig.connect());
    CAboutDlg about(rig.editor->connection(), rig.editor->language(), nullptr);
    about.show();
    EXPECT_FALSE(about.mcuLine()->isHidden());
    EXPECT_EQ(about.mcuLine()->text(), "MCU Ver:2025-06-18 CMD Ver:11");
    EXPECT_EQ(about.dspLine()->text(), "DSP Ver:2025-07-02");
    EXPECT_TRUE(about.modelLine()->isHidden());
    QTest::keyRelease(&about, Qt::Key_F11);
    EXPECT_TRUE(about.peak()->isHidden()) << "F11 alone is swallowed";
    QTest::keyRelease(&about, Qt::Key_F11, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(about.peak()->isHidden());
    EXPECT_EQ(about.modelLine()->text(), "Module:Q7");
    about.peak()->click(); // was checked: the poll stops
    EXPECT_FALSE(rig.editor->connection().session.levelPollPermission);
    rig.run(1000);
    rig.clearTrace();
    {
        std::lock_guard l(rig.mutex);
        rig.lines.clear();
    }
    rig.run(1000);
    std::lock_guard l(rig.mutex);
    for (const TraceLine& t : rig.lines)
        EXPECT_NE(t.report[1], CMD_GET_LEVELS);
}

TEST(Shortcuts, F6AndF7OnlyWhileConnected) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    int settings = 0;
    QObject::connect(&rig.view(), &CHX2060v13View::machineSettingsRequested, [&] { ++settings; });
    rig.frame().show();
    rig.frame().activateWindow();
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &rig.frame();
    QTest::keyRelease(target, Qt::Key_F7);
    EXPECT_EQ(settings, 0) << "not connected: nothing opens";
}
