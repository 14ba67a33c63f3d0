// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/edit_holds.h"

#include "controls/bmp_slider.h"
#include "controls/delay_panel.h"
#include "controls/eq_panel.h"
#include "controls/speaker_panel.h"
#include "controls/up_down.h"
#include "params/edit_path.h"

#include <QAbstractSlider>
#include <QWidget>
#include <memory>
#include <optional>

namespace q7 {

namespace {

constexpr const char* kWired = "q7HoldWired";

template <class Control, class Start, class End>
void wire(QWidget* root, EditPath& edits, Start start, End end) {
    for (Control* c : root->findChildren<Control*>()) {
        if (c->property(kWired).toBool())
            continue;
        c->setProperty(kWired, true);
        // Owned by the two connections: a control that goes away mid-press ends its hold.
        auto hold = std::make_shared<std::optional<EditPath::Hold>>();
        QObject::connect(c, start, c, [hold, &edits] { hold->emplace(edits); });
        QObject::connect(c, end, c, [hold] { hold->reset(); });
    }
}

} // namespace

void holdEditsWhilePressed(QWidget* root, EditPath& edits) {
    wire<CXBmpSlider>(root, edits, &CXBmpSlider::holdStarted, &CXBmpSlider::holdEnded);
    wire<UpDown>(root, edits, &UpDown::holdStarted, &UpDown::holdEnded);
    wire<CDelayPanel>(root, edits, &CDelayPanel::holdStarted, &CDelayPanel::holdEnded);
    wire<CSSVolumePanel>(root, edits, &CSSVolumePanel::holdStarted, &CSSVolumePanel::holdEnded);
    wire<CEqPanel>(root, edits, &CEqPanel::holdStarted, &CEqPanel::holdEnded);
    wire<QAbstractSlider>(root, edits, &QAbstractSlider::sliderPressed,
                          &QAbstractSlider::sliderReleased);
}

} // namespace q7
