// SPDX-License-Identifier: GPL-3.0-or-later
// Each editor keeps its own state: two editors in one process (as tests run) do not see each
// other's choices.
#include "controls/image_button.h"
#include "controls/peak_meter.h"
#include "editor_rig.h"
#include "pages/music_page.h"
#include "real_input.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

TEST(Isolation, TheInputBankBelongsToItsEditor) {
    EditorRig first(SimOptions{.startUnplugged = true});
    auto* page = dynamic_cast<CDialogMusic*>(first.view().currentPage());
    ASSERT_NE(page, nullptr);
    test::click(page->button(1069)); // Mic CH B
    ASSERT_EQ(static_cast<CPage*>(page)->bank(), 8);

    EditorRig second(SimOptions{.startUnplugged = true});
    auto* other = dynamic_cast<CDialogMusic*>(second.view().currentPage());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(static_cast<CPage*>(other)->bank(), 1)
        << "a new editor starts on microphone channel A";
    EXPECT_EQ(static_cast<CPage*>(page)->bank(), 8);
}

TEST(Isolation, MetersFallOnTheirOwnersClock) {
    auto fall = [](CPeakMeterCtrl* m) {
        m->SetMeterBands(1, 15);
        m->Start(35);
        const int v = 200;
        m->SetData(&v, 0, 1);
    };
    QWidget pageA, pageB;
    auto* a1 = new CPeakMeterCtrl(&pageA);
    auto* a2 = new CPeakMeterCtrl(&pageA);
    auto* b = new CPeakMeterCtrl(&pageB);
    for (CPeakMeterCtrl* m : {a1, a2, b})
        fall(m);
    auto* clockA = pageA.findChild<PeakMeterClock*>();
    auto* clockB = pageB.findChild<PeakMeterClock*>();
    ASSERT_NE(clockA, nullptr);
    ASSERT_NE(clockB, nullptr);
    EXPECT_NE(clockA, clockB) << "each page's meters step together, on the page's clock";
    EXPECT_EQ(pageA.findChildren<PeakMeterClock*>().size(), 1);
    EXPECT_TRUE(clockA->running(35));
    // B's meter comes to rest: A's go on falling.
    while (b->running())
        b->DecayStep();
    EXPECT_FALSE(clockB->running(35));
    EXPECT_TRUE(clockA->running(35));
    delete a1;
    EXPECT_TRUE(clockA->running(35)) << "a2 still falls";
    delete a2;
    EXPECT_FALSE(clockA->running(35));
}
