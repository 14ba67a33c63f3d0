// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/nav_row.h"

#include "controls/image_button.h"
#include "ui/language.h"

namespace q7 {

namespace {

// Left to right on screen.
struct Nav {
    int id;
    const char *zh, *en;
    PageKind kind;
    int bank;
};
constexpr std::array<Nav, 8> kNav = {{
    {1069, "前置音箱", "Main", PageKind::Output, 5},
    {1072, "后置音箱", "Rear", PageKind::Output, 4},
    {1070, "中置音箱", "Center", PageKind::Output, 3},
    {1071, "超低音箱", "Sub", PageKind::Output, 2},
    {1076, "顶置音箱", "Top", PageKind::Output, 11},
    {1073, "声场定位", "Location", PageKind::Location, 0},
    {1074, "延时调整", "Delay", PageKind::Delay, 0},
    {1075, "输出压限", "Comp", PageKind::Compressor, 0},
}};

} // namespace

NavRow::NavRow(QWidget* page, EditorContext& editor) : QObject(page), editor_(editor) {
    for (std::size_t i = 0; i < kNav.size(); ++i) {
        const Nav nav = kNav[i];
        auto* b = new CGdipButton(nav.id, page);
        // The button of what is shown does nothing: reading the store again would throw away
        // what the user is typing.
        connect(b, &CGdipButton::clicked, this, [this, nav, b] {
            if (!b->isCurrent())
                editor_.showPage(nav.kind, nav.bank);
        });
        buttons_[i] = b;
    }
    applyLanguage();
}

void NavRow::applyLanguage() {
    for (std::size_t i = 0; i < kNav.size(); ++i)
        buttons_[i]->setText(editor_.language().pick(kNav[i].zh, kNav[i].en));
}

void NavRow::setCurrent(int buttonId) {
    for (std::size_t i = 0; i < kNav.size(); ++i)
        buttons_[i]->setCurrent(kNav[i].id == buttonId);
}

void NavRow::place(int x, int y, int width) {
    const int w = std::min(110, (width - 7 * 6) / 8);
    for (std::size_t i = 0; i < kNav.size(); ++i)
        buttons_[i]->setGeometry(x + int(i) * (w + 6), y, w, 28);
}

CGdipButton* NavRow::button(int id) const {
    for (std::size_t i = 0; i < kNav.size(); ++i)
        if (kNav[i].id == id)
            return buttons_[i];
    return nullptr;
}

} // namespace q7
