// SPDX-License-Identifier: GPL-3.0-or-later
// What the user is told and when: notices that stack instead of hiding each other, the remote
// key file that holds fewer keys than the table, the language of the first start and of the
// single-instance box, and timed sequences of writes that leave the window free.
#include "app/single_instance.h"
#include "controls/image_button.h"
#include "editor_rig.h"
#include "pages/remote_dialogs.h"
#include "real_input.h"
#include "ui/info_popup.h"

#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

QStringList notices(EditorRig& rig) {
    CInfoDlg* info = rig.editor->infoPopup();
    return info && info->isVisible() ? info->texts() : QStringList();
}

} // namespace

// ---- notices ----

TEST(Notices, TheRestartNoticeStaysWhileTheAmplifierGoesAndComes) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.prompter.answers = {Answer::Yes};
    rig.clickRibbon(cmd::Reset);
    const QString restarting = QString::fromUtf8("Restarting……");
    ASSERT_EQ(notices(rig), QStringList{restarting});
    // The amplifier leaves the bus: its removal is said too, under the restart notice.
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->linkOpen(); }, 5000));
    rig.run(100);
    QStringList shown = notices(rig);
    EXPECT_EQ(shown.value(0), restarting) << shown.join('|').toStdString();
    EXPECT_TRUE(shown.contains("Device Disconnected!")) << shown.join('|').toStdString();
    // Some seconds later the removal notice is gone; the restart one is still read.
    rig.run(8500);
    EXPECT_EQ(notices(rig), QStringList{restarting});
    ASSERT_TRUE(rig.connect());
    rig.run(20000);
    EXPECT_TRUE(notices(rig).isEmpty()) << "each notice goes after its own time";
}

TEST(Notices, TheSameNoticeAgainRestartsItsTimeAndCloseDismissesAll) {
    EditorRig rig(SimOptions{.startUnplugged = true});
    rig.editor->ShowInfo("first", 1100);
    rig.run(600);
    rig.editor->ShowInfo("second", 1100);
    rig.run(600);
    EXPECT_EQ(notices(rig), QStringList{"second"}) << "the first had its 1100 ms";
    rig.editor->ShowInfo("second", 1100);
    rig.run(600);
    EXPECT_EQ(notices(rig), QStringList{"second"}) << "shown once, its time restarted";
    rig.editor->ShowInfo("third", 5000);
    ASSERT_EQ(notices(rig), (QStringList{"second", "third"}));
    EXPECT_EQ(rig.editor->infoPopup()->text(), "third") << "the newest";
    rig.click(rig.editor->infoPopup()->findChild<QPushButton*>());
    EXPECT_TRUE(notices(rig).isEmpty());
}

// ---- remote key files ----

TEST(RemoteLearning, AShortKeyFileLoadsTheKeysItHoldsAndSaysHowMany) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.clickRibbon(cmd::LanguageSwitch);
    rig.clickRibbon(cmd::IrLearning);
    CRemoteDlg* remote = rig.view().remoteDialog();
    ASSERT_NE(remote, nullptr);
    ParameterStore& s = rig.editor->store();
    KeyTable table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = std::uint8_t(0x30 + i);
    s.setKeyTable(table);

    // Byte 0 and the codes of keys 1 to 5.
    const QString path = rig.dir.filePath("five.remo");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\x09\xA1\xA2\xA3\xA4\xA5", 6);
    f.close();
    rig.prompter.openPath = path;
    rig.clearTrace();
    rig.click(remote->loadButton());
    KeyTable expected = table;
    for (std::size_t i = 0; i < 6; ++i)
        expected[i] = std::uint8_t(i == 0 ? 0x09 : 0xA0 + i);
    EXPECT_EQ(s.keyTable(), expected) << "the rest keeps its codes";
    ASSERT_EQ(rig.prompter.told.size(), 1u);
    EXPECT_TRUE(rig.prompter.told[0].text.contains("5 of the 15 keys"))
        << rig.prompter.told[0].text.toStdString();
    rig.run(10);
    std::vector<Report> tables;
    for (const Report& r : rig.sent())
        if (r[1] == CMD_SET_KEY_TABLE)
            tables.push_back(r);
    ASSERT_EQ(tables.size(), 1u) << "the whole table is sent";
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), tables[0].begin() + 2));

    // An empty file holds no key: nothing changes and nothing is sent.
    const QString empty = rig.dir.filePath("empty.remo");
    QFile(empty).open(QIODevice::WriteOnly);
    rig.prompter.openPath = empty;
    rig.clearTrace();
    rig.click(remote->loadButton());
    EXPECT_EQ(s.keyTable(), expected);
    ASSERT_EQ(rig.prompter.told.size(), 2u);
    EXPECT_TRUE(rig.prompter.told[1].text.contains("empty"))
        << rig.prompter.told[1].text.toStdString();
    rig.run(10);
    EXPECT_TRUE(rig.sent().empty());
}

// ---- language at start ----

TEST(StartLanguage, TheFirstStartFollowsTheSystemAndTheSavedChoiceStands) {
    {
        EditorRig rig(SimOptions{.startUnplugged = true},
                      [](EditorOptions& o) { o.locale = "de_DE"; });
        EXPECT_TRUE(rig.editor->language().english());
        EXPECT_EQ(rig.profile->value("language").toInt(), kEnglish) << "the choice is kept";
    }
    {
        EditorRig rig(SimOptions{.startUnplugged = true},
                      [](EditorOptions& o) { o.locale = "zh_TW"; });
        EXPECT_FALSE(rig.editor->language().english());
    }
    {
        // A saved choice wins over the system's language.
        EditorRig rig(SimOptions{.startUnplugged = true}, [](EditorOptions& o) {
            o.locale = "en_GB";
            o.profile->setValue("language", kChinese);
        });
        EXPECT_FALSE(rig.editor->language().english());
    }
    EXPECT_EQ(startLanguageIndex(nullptr, "zh_CN"), kChinese);
    EXPECT_EQ(startLanguageIndex(nullptr, "C"), kEnglish);
}

TEST(StartLanguage, TheSingleInstanceBoxSpeaksOneLanguage) {
    Language l;
    l.setIndex(kChinese);
    auto zh = instanceErrorBox(l);
    EXPECT_EQ(zh->text(), QString::fromUtf8("已有一个实例在运行，但找不到它的主窗口！"));
    ASSERT_EQ(zh->buttons().size(), 1);
    EXPECT_EQ(zh->buttons()[0]->text(), QString::fromUtf8("确定"));
    l.setIndex(kEnglish);
    auto en = instanceErrorBox(l);
    EXPECT_TRUE(en->text().startsWith("Another copy of the editor is running"));
    EXPECT_EQ(en->buttons()[0]->text(), "OK");
}

// ---- timed writes never hold the window ----

TEST(WindowNeverWaits, UnmutingTheMusicFadesInOnTheLinksWriter) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    QCheckBox* mute = rig.ribbon().check(cmd::MusicMute);
    rig.click(mute); // muted
    rig.settle();
    rig.clearTrace();
    const double before = rig.clock.nowMs();
    rig.click(mute); // unmuted: the fade
    EXPECT_EQ(rig.clock.nowMs(), before) << "the window did not wait";
    rig.settle();
    const auto lines = rig.sentLines();
    ASSERT_EQ(lines.size(), 10u);
    for (int k = 0; k < 10; ++k) {
        const Report& r = lines[std::size_t(k)].report;
        EXPECT_EQ(r[1], CMD_DSP_WRITE);
        EXPECT_EQ(test::word(r, 0), floatBits(k < 9 ? float(k / 10.0) : 1.0f)) << k;
        if (k > 0) {
            EXPECT_GE(lines[std::size_t(k)].ms - lines[std::size_t(k) - 1].ms, 30.0 - 1e-6) << k;
        }
    }
}

TEST(WindowNeverWaits, SavingToADeviceModeWaitsOnTheWriterNotTheWindow) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.prompter.answers = {Answer::Yes};
    rig.clearTrace();
    const double before = rig.clock.nowMs();
    rig.ribbon().action(cmd::SaveModeFirst + 1)->trigger();
    EXPECT_EQ(rig.clock.nowMs(), before) << "the window did not wait";
    // The notice follows the store's half second; an edit made at once goes out after it.
    rig.click(rig.ribbon().check(cmd::EchoMute));
    rig.settle();
    const auto lines = rig.sentLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].report, shortCommand(CMD_MODE_STORE, 1));
    EXPECT_GE(lines[1].ms - lines[0].ms, 500.0 - 1e-6);
    ASSERT_TRUE(rig.runUntil([&] { return !notices(rig).isEmpty(); }, 1000));
    EXPECT_EQ(notices(rig), QStringList{QString::fromUtf8("正在储存模式二,请稍等")});
}
