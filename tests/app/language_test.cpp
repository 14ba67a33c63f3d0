// SPDX-License-Identifier: GPL-3.0-or-later
#include "ini/ini_table.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace q7;

TEST(IniTable, ParsesTheStringSectionOnly) {
    IniTable t;
    EXPECT_TRUE(t.parse("\xEF\xBB\xBF// comment\r\n[Other]\r\nIDD1_1=no\r\n[String]\r\n"
                        "IDD335_1073=Apply\r\n IDD333_1190 = \"High Freq \"\r\n"
                        "IDD1_2=\r\n; other comment\r\nbroken line\r\n=novalue\r\n"
                        "IDD313_title=音乐\n"));
    EXPECT_EQ(t.value("IDD335_1073"), "Apply");
    EXPECT_EQ(t.value("IDD333_1190"), "High Freq ") << "quotes keep the trailing blank";
    EXPECT_EQ(t.value("IDD313_title"), "音乐");
    EXPECT_FALSE(t.contains("IDD1_1"));
    EXPECT_EQ(t.value("IDD1_2"), "");
    EXPECT_EQ(t.size(), 4u);
    EXPECT_FALSE(IniTable().parse("no section at all"));
}

TEST(ApplyLanguage, TitleAndDirectChildrenOnly) {
    Language l;
    l.setTable(kEnglish, "[String]\nIDD335_title=Machine Set\nIDD335_1073=Apply\n"
                         "IDD335_1046=Lock panel\nIDD335_1201=Vol save mode\nIDD335_2=\n"
                         "IDD335_1300=Inner\n");
    l.setIndex(kEnglish);
    QWidget dialog;
    auto* apply = new QPushButton("应用", &dialog);
    setControlId(apply, 1073);
    auto* lock = new QCheckBox("锁定面板", &dialog);
    setControlId(lock, 1046);
    auto* group = new QGroupBox("音量保存模式", &dialog);
    setControlId(group, 1201);
    auto* cancel = new QPushButton("取消", &dialog);
    setControlId(cancel, 2);
    auto* inner = new QLabel("内部", group); // a grandchild
    setControlId(inner, 1300);
    l.ApplyLanguage(&dialog, 335);
    EXPECT_EQ(dialog.windowTitle(), "Machine Set");
    EXPECT_EQ(apply->text(), "Apply");
    EXPECT_EQ(lock->text(), "Lock panel");
    EXPECT_EQ(group->title(), "Vol save mode");
    EXPECT_EQ(cancel->text(), QString::fromUtf8("取消")) << "an empty value leaves the text";
    EXPECT_EQ(inner->text(), QString::fromUtf8("内部")) << "grandchildren are not visited";
    l.ApplyLanguage(nullptr, 335);
}

TEST(LanguageTables, BothLanguagesCarryTheSameKeys) {
    Language l;
    const IniTable& zh = l.table(kChinese);
    const IniTable& en = l.table(kEnglish);
    EXPECT_GE(zh.size(), 230u);
    for (const auto& [key, value] : zh.values())
        EXPECT_TRUE(en.contains(key)) << key;
    for (const auto& [key, value] : en.values())
        EXPECT_TRUE(zh.contains(key)) << key;
    for (int dialog : {313, 333, 334, 335, 346, 372, 373, 385, 410, 421, 423, 424})
        EXPECT_TRUE(zh.contains("IDD" + std::to_string(dialog) + "_title")) << dialog;
    EXPECT_EQ(en.value("IDD335_1073"), "Apply");
    EXPECT_EQ(zh.value("IDD346_1073"), "声场定位");
    EXPECT_EQ(en.value("IDD333_1190"), "High Freq ");
}

TEST(Fonts, ChineseTextHasGlyphs) {
    installFontSubstitutions();
    const QFont f = songti(14);
    const QFontMetrics m(f);
    const QString text = QString::fromUtf8("话筒音量");
    for (const QChar c : text)
        EXPECT_TRUE(m.inFontUcs4(c.unicode())) << "no CJK font resolves for 宋体";
}

namespace {

// Answers the next message box the real prompter shows by clicking one of its buttons, and
// notes what the box offered.
struct BoxClicker {
    QStringList buttons;
    QString defaultButton;
    void clickLater(QMessageBox::StandardButton which) {
        QTimer::singleShot(0, [this, which] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
            QAbstractButton* b = box->button(which);
            ASSERT_NE(b, nullptr);
            QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, b->rect().center());
        });
    }
};

} // namespace

TEST(QtTexts, MessageBoxesFollowTheLanguageAtRunTime) {
    Language l;
    QtPrompter prompter;
    l.setIndex(kChinese);
    BoxClicker zh;
    zh.clickLater(QMessageBox::No);
    EXPECT_EQ(prompter.askDefaultNo(nullptr, "?", "?"), Answer::No);
    EXPECT_TRUE(zh.buttons.contains(QString::fromUtf8("是(&Y)")))
        << zh.buttons.join('|').toStdString();
    EXPECT_TRUE(zh.buttons.contains(QString::fromUtf8("否(&N)")));
    EXPECT_EQ(zh.defaultButton, QString::fromUtf8("否(&N)"))
        << "the destructive Yes is not the default";

    l.setIndex(kEnglish);
    BoxClicker en;
    en.clickLater(QMessageBox::Yes);
    EXPECT_EQ(prompter.ask(nullptr, "?", "?", true), Answer::Yes);
    EXPECT_TRUE(en.buttons.contains("&Yes"));
    EXPECT_TRUE(en.buttons.contains("Cancel"));

    // The file dialogs too.
    l.setIndex(kChinese);
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    auto* box = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8("取消"));
}
