// SPDX-License-Identifier: GPL-3.0-or-later
// The connection flows as the user sees them, on virtual time.
#include "app/about_dialog.h"
#include "app/single_instance.h"
#include "app/sync_dialog.h"
#include "editor_rig.h"
#include "pages/dynamics_dialogs.h"
#include "pages/settings_dialog.h"
#include "params/dsp.h"
#include "protocol/report.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

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

namespace {

// What the transfer dialog showed while it was open: every value of its bar, the bar's
// total and each step line.
struct DialogWatch {
    std::vector<int> values;
    int maximum = -1;
    QStringList steps;
    QPointer<CSyncDlg> dialog;

    void attach(CSyncDlg* d) {
        dialog = d;
        QObject::connect(d->bar(), &QProgressBar::valueChanged, d, [this](int v) {
            values.push_back(v);
            maximum = dialog->bar()->maximum();
        });
    }
    // Called as time runs: notes the step line as the user reads it.
    void look() {
        if (dialog && (steps.isEmpty() || steps.back() != dialog->stepLine()))
            steps.push_back(dialog->stepLine());
    }
    bool stepsContain(const QString& text) const {
        for (const QString& s : steps)
            if (s.contains(text))
                return true;
        return false;
    }
};

} // namespace

TEST(ConnectionUi, TheDialogCountsTheRequestsAndNamesTheStepInEitherLanguage) {
    for (int lang : {kChinese, kEnglish}) {
        SCOPED_TRACE(lang);
        // 10 ms per report (a slow hub): every step lasts long enough to be read.
        EditorRig rig(SimOptions{.latencyUs = 10000},
                      [lang](EditorOptions& o) { o.profile->setValue("language", lang); });
        rig.run(300);
        ASSERT_NE(rig.view().syncDialog(), nullptr);
        DialogWatch watch;
        watch.attach(rig.view().syncDialog());
        ASSERT_TRUE(rig.runUntil([&] {
            watch.look();
            return rig.editor->linkOpen() && !rig.view().syncDialog() &&
                   !rig.editor->connection().session.workerRunning();
        }));
        ASSERT_FALSE(watch.values.empty());
        EXPECT_EQ(watch.maximum, kSynchronisationRequests);
        EXPECT_EQ(watch.values.back(), kSynchronisationRequests) << "the bar ends full";
        EXPECT_TRUE(std::is_sorted(watch.values.begin(), watch.values.end()));
        EXPECT_GT(watch.values.size(), 10u) << "it moves while the requests go out";
        const bool en = lang == kEnglish;
        EXPECT_TRUE(watch.stepsContain(en ? "Reading EQ …" : QString::fromUtf8("读取均衡……")))
            << watch.steps.join(" | ").toStdString();
        EXPECT_TRUE(
            watch.stepsContain(en ? "Reading settings …" : QString::fromUtf8("读取参数……")));
        EXPECT_TRUE(watch.stepsContain("183/183"));

        // A download counts its own requests, from a file the user opens.
        const QString path = rig.dir.filePath("mine.q7M");
        rig.prompter.savePath = path;
        rig.clickRibbon(cmd::SaveFile);
        ASSERT_TRUE(QFileInfo::exists(path));
        const int expected = fullDownloadReports(
            rig.editor->store(), rig.editor->connection().state.currentSettings()[0]);
        rig.prompter.openPath = path;
        rig.clickRibbon(cmd::LoadFile);
        ASSERT_NE(rig.view().syncDialog(), nullptr);
        DialogWatch download;
        download.attach(rig.view().syncDialog());
        ASSERT_TRUE(rig.runUntil([&] {
            download.look();
            return !rig.view().syncDialog() && !rig.editor->connection().session.workerRunning();
        }));
        EXPECT_EQ(download.maximum, expected);
        ASSERT_FALSE(download.values.empty());
        EXPECT_EQ(download.values.back(), expected);
        EXPECT_TRUE(download.stepsContain(en ? "Writing EQ …" : QString::fromUtf8("写入均衡……")))
            << download.steps.join(" | ").toStdString();
    }
}

TEST(ConnectionUi, AFailedOrSlowTransferStopsTheBarShortOfItsTotal) {
    {
        EditorRig rig(SimOptions{.model = "Q8"});
        rig.run(300);
        ASSERT_NE(rig.view().syncDialog(), nullptr);
        DialogWatch watch;
        watch.attach(rig.view().syncDialog());
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, 20000);
        ASSERT_EQ(rig.prompter.told.size(), 1u);
        EXPECT_EQ(rig.prompter.told[0].text, QString::fromUtf8("机器型号与软件不匹配!"));
        rig.run(10);
        EXPECT_EQ(rig.view().syncDialog(), nullptr);
        ASSERT_FALSE(watch.values.empty());
        EXPECT_LT(watch.values.back(), watch.maximum);
    }
    {
        // The guard still ends a transfer that takes too long, with the bar part-way.
        EditorRig rig(SimOptions{.latencyUs = 200000});
        rig.run(300);
        ASSERT_NE(rig.view().syncDialog(), nullptr);
        DialogWatch watch;
        watch.attach(rig.view().syncDialog());
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, kSyncGuardMs + 1000);
        ASSERT_EQ(rig.prompter.told.size(), 1u);
        EXPECT_EQ(rig.prompter.told[0].text, QString::fromUtf8("发生错误，与设备数据同步超时……"));
        // So slow that the first model reply comes after the check: it asks a second time.
        EXPECT_EQ(watch.maximum, kSynchronisationRequests + 1);
        ASSERT_FALSE(watch.values.empty());
        EXPECT_GT(watch.values.back(), 50);
        EXPECT_LT(watch.values.back(), kSynchronisationRequests);
    }
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
        rig.run(10); // CMD_CLOSE goes from the writer; the closed dialog is deleted
        EXPECT_EQ(rig.lastSent(), shortCommand(CMD_CLOSE));
        EXPECT_EQ(rig.view().syncDialog(), nullptr);
    }
    {
        EditorRig rig(SimOptions{.protocol = 10});
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, 20000);
        ASSERT_EQ(rig.prompter.told.size(), 1u);
        EXPECT_EQ(rig.prompter.told[0].text,
                  QString::fromUtf8("机器与软件通信版本不匹配，请使用机器配套软件!"));
        rig.run(10);
        EXPECT_EQ(rig.lastSent(), shortCommand(CMD_CLOSE));
    }
}

// The timeout box stays open while the stopped transfer ends behind it; pressing OK then must
// touch nothing that is gone.
TEST(ConnectionUi, TheTimeoutBoxOutlivesTheDialogItCameFrom) {
    for (const bool download : {false, true}) {
        SCOPED_TRACE(download ? "download" : "synchronisation");
        EditorRig rig(SimOptions{.latencyUs = download ? 0.0 : 200000.0});
        if (download) {
            ASSERT_TRUE(rig.connect());
            rig.sim.setDropEvery(2); // every other request waits out its reply
        }
        bool finishedBehindTheBox = false;
        rig.prompter.whileOpen = [&] {
            rig.runUntil([&] { return !rig.editor->connection().session.workerRunning(); }, 300000);
            rig.run(1000);
            finishedBehindTheBox = rig.view().syncDialog() == nullptr;
        };
        if (download)
            rig.view().StartDownload();
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, 300000);
        ASSERT_FALSE(rig.prompter.told.empty());
        EXPECT_TRUE(rig.prompter.told[0].text.startsWith(
            QString::fromUtf8("发生错误，与设备数据同步超时……")));
        rig.run(100);
        EXPECT_TRUE(finishedBehindTheBox);
        EXPECT_EQ(rig.view().syncDialog(), nullptr);
        EXPECT_TRUE(rig.editor->linkOpen());
        EXPECT_EQ(rig.prompter.told.size(), 1u);
    }
}

// A read error with the amplifier still plugged in: the user is told, the link opens again by
// itself and synchronises; when it cannot be opened, the editor stops trying and says so.
TEST(ConnectionUi, AReadErrorIsToldAndTheLinkReopensByItself) {
    EditorRig rig(SimOptions{.readErrorAfter = 30});
    rig.runUntil(
        [&] {
            return rig.view().lastBalloon().size() == 2 &&
                   rig.view().lastBalloon()[1].contains(QString::fromUtf8("出错"));
        },
        20000);
    ASSERT_EQ(rig.view().lastBalloon().size(), 2);
    EXPECT_EQ(rig.view().lastBalloon()[1], QString::fromUtf8("与设备通信出错，正在重新连接……"));
    EXPECT_EQ(rig.status().usbPane()->text(), QString::fromUtf8("USB：通信出错，重新连接中……"));
    EXPECT_FALSE(rig.editor->linkOpen());
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.status().usbPane()->text(), QString::fromUtf8("USB：已连接"));
    EXPECT_EQ(rig.editor->connection().state.modeNames().get(1), u"Cinema");
    EXPECT_TRUE(rig.view().levelPollRunning());
    EXPECT_TRUE(rig.prompter.told.empty()) << "a balloon, not a box";
}

TEST(ConnectionUi, AnAmplifierThatWillNotReopenIsGivenUpWithAMessage) {
    EditorRig rig(SimOptions{.readErrorAfter = 250}); // after the synchronisation, in the poll
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.sim.setOpenFails(true);
    const auto balloonSays = [&](const char* text) {
        return rig.view().lastBalloon().size() == 2 && rig.view().lastBalloon()[1] == text;
    };
    ASSERT_TRUE(rig.runUntil(
        [&] { return balloonSays("Communication with the device failed: reconnecting……"); },
        120000));
    const double since = rig.clock.nowMs();
    ASSERT_TRUE(rig.runUntil(
        [&] {
            return balloonSays(
                "The device could not be reconnected: unplug it and plug it in again.");
        },
        20000));
    EXPECT_NEAR(rig.clock.nowMs() - since, kReconnectTries * kReconnectMs, 100);
    EXPECT_EQ(rig.status().usbPane()->text(), "USB:Error, replug the device");
    rig.clearTrace();
    rig.run(10000);
    EXPECT_TRUE(rig.sent().empty()) << "it stopped trying";

    // Replugged, it connects as any arrival does.
    rig.sim.setOpenFails(false);
    rig.sim.unplug();
    rig.run(500);
    EXPECT_EQ(rig.view().lastBalloon()[1], "Device Disconnected!");
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.status().usbPane()->text(), "USB:Connected");
}

// The amplifier's DSP error: one plain box per run, caption "Error", and the values decode.
TEST(ConnectionUi, TheDspErrorIsOnePlainBoxPerRun) {
    EditorRig rig(SimOptions{.dspError = 0x21});
    ASSERT_TRUE(rig.connect());
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_EQ(rig.prompter.told[0].caption, "Error");
    EXPECT_TRUE(rig.prompter.told[0].text.startsWith(QString::fromUtf8("参数错误,代码0x:21")))
        << rig.prompter.told[0].text.toStdString();
    EXPECT_EQ(rig.prompter.icons[0], BoxIcon::None);
    rig.ribbon().action(cmd::LoadModeFirst + 1)->trigger(); // resynchronises
    rig.run(100);
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.prompter.told.size(), 1u) << "not again in the same run";
}

// An amplifier that arrives while the editor's own close is still sending is connected once
// that close has ended, not lost.
TEST(ConnectionUi, AnArrivalDuringACloseConnectsAfterIt) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.sim.setDropEvery(1); // nothing answers: the close takes its time
    Link& link = rig.editor->connection().link;
    link.write(shortCommand(CMD_GET_MODE));
    link.CloseByEditor();
    ASSERT_TRUE(link.closing());
    rig.view().OnDeviceArrived(QString::fromUtf8(kSimulatorPath)); // the system's notice
    rig.sim.setDropEvery(0);
    EXPECT_FALSE(rig.editor->linkOpen());
    ASSERT_TRUE(rig.runUntil([&] { return rig.editor->linkOpen(); }, 10000));
    ASSERT_TRUE(rig.connect());
    EXPECT_EQ(rig.status().usbPane()->text(), QString::fromUtf8("USB：已连接"));
}

// One value's reply lost every time it is asked for: after asking again a few times it is still
// missing, and the user is told that the values shown for it may be wrong (in the language
// shown).
TEST(ConnectionUi, ValuesThatCouldNotBeReadAreToldNotShownAsReal) {
    EditorRig rig(SimOptions{.latencyUs = 1000});
    rig.clickRibbon(cmd::LanguageSwitch);
    Session& session = rig.editor->connection().session;
    // The first value of the read list is never answered, in the reads and in every round of
    // asking again.
    const DspRequest first = dspReadList().front();
    rig.sim.setUnanswered([want = dspRead(first.module, first.parameter, first.count)](
                              const Report& r) { return r == want; });
    ASSERT_TRUE(rig.runUntil([&] { return !session.workerRunning() && !rig.prompter.told.empty(); },
                             900000));
    EXPECT_TRUE(rig.editor->linkOpen());
    const int n = rig.editor->connection().session.unreadValues();
    ASSERT_GT(n, 0);
    EXPECT_EQ(rig.prompter.told.size(), 1u) << "within the guard's time";
    EXPECT_EQ(rig.prompter.told.back().caption, "Warning");
    EXPECT_EQ(rig.prompter.told.back().text,
              QString("%1 settings could not be read from the amplifier: the values shown for "
                      "them may be wrong. Load the mode again to read them once more.")
                  .arg(n));
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

// A silent amplifier, or one whose identity replies are lost, is not said to be the wrong model:
// the box says what happened and what to try.
TEST(ConnectionUi, ASilentAmplifierIsNotCalledTheWrongModel) {
    {
        EditorRig rig(SimOptions{.silent = true});
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, 20000);
        ASSERT_EQ(rig.prompter.told.size(), 1u);
        EXPECT_EQ(rig.prompter.told[0].text,
                  QString::fromUtf8("机器没有应答：请检查USB线和集线器，并关闭其他正在使用该设备"
                                    "的程序。"));
        EXPECT_FALSE(rig.editor->linkOpen());
    }
    {
        EditorRig rig(SimOptions{.dropEvery = 2});
        rig.runUntil([&] { return !rig.prompter.told.empty(); }, 20000);
        ASSERT_EQ(rig.prompter.told.size(), 1u);
        EXPECT_TRUE(rig.prompter.told[0].text.startsWith(QString::fromUtf8("机器的应答正在丢失")))
            << rig.prompter.told[0].text.toStdString();
        EXPECT_FALSE(rig.editor->linkOpen());
    }
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
    rig.ribbon().action(cmd::AppExit)->trigger(); // "Exit" in the application menu
    EXPECT_FALSE(rig.frame().isVisible());
    EXPECT_FALSE(rig.editor->linkOpen());
    rig.run(10); // CMD_CLOSE goes from the link's writer
    EXPECT_EQ(rig.lastSent(), shortCommand(CMD_CLOSE));
}

TEST(ConnectionUi, ClosingUnchangedAsksNothing) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.frame().show();
    rig.editor->store().setParametersChanged(false);
    EXPECT_TRUE(rig.frame().close());
    EXPECT_TRUE(rig.prompter.asked.empty());
    rig.run(10);
    EXPECT_EQ(rig.lastSent(), shortCommand(CMD_CLOSE));
}

TEST(SingleInstanceGuard, ASecondStartRaisesTheFirstWithItsFile) {
    QTemporaryDir runtime;
    const QString name = QString("q7edit-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name, runtime.path());
    ASSERT_TRUE(first.becomePrimary());
    EXPECT_TRUE(first.socketPath().startsWith(runtime.path()));
    EXPECT_TRUE(QFileInfo::exists(first.lockPath()));
    QString received;
    bool activated = false;
    QObject::connect(&first, &SingleInstance::activated, [&](const QString& f) {
        activated = true;
        received = f;
    });
    SingleInstance second(name, runtime.path());
    EXPECT_FALSE(second.becomePrimary());
    EXPECT_TRUE(second.notifyPrimary("party.q7M"));
    QElapsedTimer t;
    t.start();
    while (!activated && t.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(activated);
    EXPECT_EQ(received, QDir::current().absoluteFilePath("party.q7M"))
        << "the first copy runs elsewhere: it gets the whole path";
}

TEST(SingleInstanceGuard, EveryUserRunsHisOwnEditor) {
    // Two users: two runtime directories on one machine.
    QTemporaryDir alice, bob;
    const QString name = QString("q7edit-users-%1").arg(QCoreApplication::applicationPid());
    SingleInstance a(name, alice.path()), b(name, bob.path());
    EXPECT_TRUE(a.becomePrimary());
    EXPECT_TRUE(b.becomePrimary()) << "another user's editor does not stop this one";
    EXPECT_FALSE(SingleInstance(name, bob.path()).becomePrimary());

    // The default folder is the user's runtime directory, never the machine-wide /tmp.
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", alice.path().toLocal8Bit());
    EXPECT_EQ(QDir(instanceDirectory()).canonicalPath(), QDir(alice.path()).canonicalPath());
    qunsetenv("XDG_RUNTIME_DIR");
    const QFileInfo fallback(instanceDirectory());
    qputenv("XDG_RUNTIME_DIR", saved);
    EXPECT_TRUE(fallback.isDir());
    EXPECT_NE(fallback.canonicalFilePath(), QDir(QDir::tempPath()).canonicalPath());
    EXPECT_EQ(fallback.ownerId(), uint(getuid()));
    EXPECT_FALSE(fallback.permissions() &
                 (QFileDevice::WriteOther | QFileDevice::WriteGroup | QFileDevice::ReadOther));
}

TEST(Screenshots, EveryScreenWithoutAnAmplifierAndTheProfileUntouched) {
    QTemporaryDir home;
    const QString shots = home.filePath("shots");
    QProcess editor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    // A profile the pictures must neither follow nor change.
    const QString profile = home.filePath("config/DSP_2060_V2.5/DSP-Q7-v1.1.conf");
    {
        QSettings user(profile, QSettings::IniFormat);
        QMainWindow big;
        big.setGeometry(10, 10, 1500, 900);
        user.setValue("window/geometry", big.saveGeometry());
        user.setValue("window/page", 3);
        user.setValue("language", 1);
    }
    QFile written(profile);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray before = written.readAll();
    written.close();
    editor.setProcessEnvironment(env);
    editor.start(Q7EDIT_PATH, {"--screenshots", shots});
    ASSERT_TRUE(editor.waitForFinished(240000));
    EXPECT_EQ(editor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(editor.exitCode(), 0) << editor.readAllStandardError().toStdString();
    for (const char* screen :
         {"main",          "main-offline", "music",           "effects",        "output-main",
          "output-center", "output-sub",   "output-rear",     "output-top",     "compressor",
          "delay",         "location",     "noise-gate",      "auto-sub",       "music-agc",
          "settings",      "remote",       "remote-learning", "remote-learned", "about",
          "question",      "sync",         "download",        "measure-level",  "measure-sweep",
          "measure-result"})
        for (const char* lang : {"zh", "en"}) {
            const QString file = QDir(shots).filePath(QString("%1.%2.png").arg(screen, lang));
            EXPECT_GT(QFileInfo(file).size(), 1000) << file.toStdString();
        }
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), before) << "the language switches leave the user's profile alone";
    EXPECT_EQ(QImage(QDir(shots).filePath("main.en.png")).size(), QSize(1180, 820))
        << "the window as it starts for anyone";
}

TEST(AboutBox, IdentityWhenConnectedAndTheHiddenPeakSwitch) {
    EditorRig rig;
    auto openAbout = [&] {
        rig.clickRibbon(cmd::About);
        QList<CAboutDlg*> all = rig.frame().findChildren<CAboutDlg*>();
        return all.isEmpty() ? nullptr : all.last();
    };
    {
        CAboutDlg* closed = openAbout();
        ASSERT_NE(closed, nullptr);
        EXPECT_TRUE(closed->isVisible());
        EXPECT_TRUE(closed->mcuLine()->isHidden()) << "link closed: only the build line";
        EXPECT_TRUE(closed->peak()->isHidden());
        EXPECT_TRUE(closed->programLine()->isVisible());
        EXPECT_EQ(closed->programLine()->text().left(9), "q7edit 0.") << "its own name and version";
        EXPECT_TRUE(closed->licenceLine()->text().contains("GPL-3.0-or-later"));
        QTest::keyClick(closed, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ASSERT_TRUE(rig.connect());
    CAboutDlg* about = openAbout();
    ASSERT_NE(about, nullptr);
    EXPECT_FALSE(about->mcuLine()->isHidden());
    EXPECT_EQ(about->mcuLine()->text(), "MCU Ver:2025-06-18 CMD Ver:11");
    EXPECT_EQ(about->dspLine()->text(), "DSP Ver:2025-07-02");
    EXPECT_TRUE(about->modelLine()->isHidden());
    QTest::keyClick(about, Qt::Key_F11);
    EXPECT_TRUE(about->peak()->isHidden()) << "F11 alone is swallowed";
    QTest::keyClick(about, Qt::Key_F11, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(about->peak()->isHidden());
    EXPECT_EQ(about->modelLine()->text(), "Module:Q7");
    rig.click(about->peak()); // was checked: the poll stops
    EXPECT_FALSE(rig.editor->connection().session.levelPollPermission);
    rig.run(1000);
    rig.clearTrace();
    {
        std::lock_guard l(rig.mutex);
        rig.lines.clear();
    }
    rig.run(1000);
    {
        std::lock_guard l(rig.mutex);
        for (const TraceLine& t : rig.lines)
            EXPECT_NE(t.report[1], CMD_GET_LEVELS);
    }
    QTest::keyClick(about, Qt::Key_Escape);
}

TEST(Shortcuts, F6AndF7OnlyWhileConnected) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.frame().activateWindow();
    auto press = [&](Qt::Key key) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &rig.frame();
        QTest::keyClick(target, key);
    };
    press(Qt::Key_F7);
    press(Qt::Key_F6);
    EXPECT_EQ(rig.view().settingsDialog(), nullptr) << "not connected: nothing opens";
    EXPECT_EQ(rig.view().noiseGateDialog(), nullptr);

    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    rig.frame().activateWindow();
    rig.frame().setFocus();
    press(Qt::Key_F7);
    ASSERT_NE(rig.view().settingsDialog(), nullptr);
    EXPECT_TRUE(rig.view().settingsDialog()->isVisible());
    QTest::keyClick(rig.view().settingsDialog(), Qt::Key_Escape);
    rig.frame().activateWindow();
    rig.frame().setFocus();
    press(Qt::Key_F6);
    ASSERT_NE(rig.view().noiseGateDialog(), nullptr);
    EXPECT_TRUE(rig.view().noiseGateDialog()->isVisible());
}
