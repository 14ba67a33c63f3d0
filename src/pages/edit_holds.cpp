// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/edit_holds.h"

#include "controls/press_hold.h"
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
    wire<PressHold>(root, edits, &PressHold::started, &PressHold::ended);
    wire<QAbstractSlider>(root, edits, &QAbstractSlider::sliderPressed,
                          &QAbstractSlider::sliderReleased);
}

} // namespace q7
