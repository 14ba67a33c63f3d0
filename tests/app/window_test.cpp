// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the user leaves it and finds it again.
#include "controls/image_button.h"
#include "editor_rig.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

CGdipButton* navButton(EditorRig& rig, int id) {
    for (CGdipButton* b : rig.view().currentPage()->findChildren<CGdipButton*>())
        if (controlId(b) == id)
            return b;
    return nullptr;
}

// An editor on a profile of the test's own.
auto onProfile(QSettings& profile) {
    return [&profile](EditorOptions& o) { o.profile = &profile; };
}

} // namespace

TEST(WindowMemory, SizePlacePageAndOutputComeBackAtTheNextStart) {
    QTemporaryDir dir;
    QSettings profile(dir.filePath("profile.ini"), QSettings::IniFormat);
    {
        EditorRig rig({}, onProfile(profile));
        ASSERT_TRUE(rig.connect());
        rig.showCategory(kOutputCategory);
        ASSERT_EQ(rig.view().currentPage()->kind(), PageKind::Output);
        rig.click(navButton(rig, 1072)); // rear
        ASSERT_EQ(rig.view().currentPage()->bank(), 4);
        rig.click(navButton(rig, 1074)); // delay
        ASSERT_EQ(rig.view().currentPage()->kind(), PageKind::Delay);
        rig.frame().setGeometry(QRect(60, 40, 1300, 860));
        ASSERT_TRUE(rig.frame().close());
    }
    {
        EditorRig rig({}, onProfile(profile));
        EXPECT_EQ(rig.frame().size(), QSize(1300, 860));
        EXPECT_EQ(rig.frame().geometry().topLeft(), QPoint(60, 40));
        ASSERT_NE(rig.view().currentPage(), nullptr);
        EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Delay);
        EXPECT_EQ(rig.ribbon().activeCategory(), kOutputCategory);
        EXPECT_EQ(rig.view().lastOutput(), 4);
        // The output tab opens the output last shown.
        rig.showCategory(kInputCategory);
        rig.showCategory(kOutputCategory);
        EXPECT_EQ(rig.view().currentPage()->bank(), 4);
        rig.click(navButton(rig, 1069)); // main, then an input page
        rig.showCategory(kInputCategory);
        ASSERT_TRUE(rig.frame().close());
    }
    {
        EditorRig rig({}, onProfile(profile));
        EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Music);
        EXPECT_EQ(rig.ribbon().activeCategory(), kInputCategory);
        EXPECT_EQ(rig.view().lastOutput(), 5);
    }
}

TEST(WindowMemory, ADamagedProfileStartsAsNew) {
    QTemporaryDir dir;
    QSettings profile(dir.filePath("profile.ini"), QSettings::IniFormat);
    static constexpr char kGarbage[] = "\x01\xd9\xd0\xcb garbage";
    profile.setValue("window/geometry", QByteArray(kGarbage, sizeof kGarbage - 1));
    profile.setValue("window/page", 99);
    profile.setValue("window/bank", -3);
    profile.setValue("window/output", 7);
    EditorRig rig({}, onProfile(profile));
    EXPECT_EQ(rig.frame().size(), QSize(1180, 820));
    EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Music);
    EXPECT_EQ(rig.view().lastOutput(), 5);
    rig.showCategory(kOutputCategory);
    EXPECT_EQ(rig.view().currentPage()->bank(), 5);

    // An output page with a bank that is no output shows the last output instead.
    profile.setValue("window/page", int(PageKind::Output));
    profile.setValue("window/bank", 8);
    profile.setValue("window/output", 3);
    rig.editor->restoreWindow();
    EXPECT_EQ(rig.view().currentPage()->kind(), PageKind::Output);
    EXPECT_EQ(rig.view().currentPage()->bank(), 3);
}
