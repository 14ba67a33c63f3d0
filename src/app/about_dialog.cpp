// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/about_dialog.h"

#include "device/connection.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef Q7_VERSION
#define Q7_VERSION "unknown"
#endif

namespace q7 {

CAboutDlg::CAboutDlg(Connection& connection, Language& language, QWidget* parent)
    : QDialog(parent), connection_(connection) {
    setObjectName("CAboutDlg");
    setPageBackground(this);
    setWindowTitle(language.pick("关于 DSP-Q7-v1.1", "About DSP-Q7-v1.1"));

    auto* icon = new QLabel(this);
    icon->setPixmap(
        QPixmap(":/images/app.png").scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto* name = new QLabel("DSP-Q7-v1.1", this);
    name->setFont(uiFont("Arial", 20, true));
    auto* build = new QLabel("Build Date:2014-07-11", this);
    build->setFont(uiFont("Tahoma", 13));
    // This program's own name, version and licence.
    program_ = new QLabel("q7edit " Q7_VERSION, this);
    program_->setFont(uiFont("Tahoma", 13, true));
    licence_ = new QLabel(
        language.pick("自由软件，依据 GNU 通用公共许可证第 3 版或（由您选择）任何更高版本"
                      "（GPL-3.0-or-later）发布，不提供任何担保。"
                      "<br><a href=\"https://www.gnu.org/licenses/gpl-3.0.html\">许可证全文</a>",
                      "Free software under the GNU General Public License, version 3 or (at your "
                      "option) any later version (GPL-3.0-or-later), with no warranty. "
                      "<br><a href=\"https://www.gnu.org/licenses/gpl-3.0.html\">The licence</a>"),
        this);
    licence_->setFont(uiFont("Tahoma", 12));
    licence_->setWordWrap(true);
    licence_->setTextFormat(Qt::RichText);
    licence_->setOpenExternalLinks(true);
    model_ = new QLabel(this);
    mcu_ = new QLabel(this);
    dsp_ = new QLabel(this);
    for (QLabel* l : {model_, mcu_, dsp_}) {
        l->setFont(uiFont("Tahoma", 13));
        l->hide();
    }
    peak_ = new QCheckBox("Peak", this);
    peak_->hide();
    peak_->setChecked(connection_.session.levelPollPermission);
    connect(peak_, &QCheckBox::toggled, this,
            [this](bool on) { connection_.session.levelPollPermission = on; });
    auto* ok = new QPushButton(language.pick("确定", "OK"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    if (connection_.link.isOpen()) {
        const DeviceState& s = connection_.state;
        model_->setText(QString("Module:%1").arg(QString::fromStdString(s.model())));
        mcu_->setText(
            QString::asprintf("MCU Ver:%s CMD Ver:%02d", s.mcuVersion().c_str(), s.protocol()));
        dsp_->setText(QString("DSP Ver:%1").arg(QString::fromStdString(s.dspVersion())));
        mcu_->show();
        dsp_->show();
    }

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(build);
    text->addSpacing(6);
    text->addWidget(program_);
    text->addWidget(licence_);
    text->addSpacing(6);
    text->addWidget(model_);
    text->addWidget(mcu_);
    text->addWidget(dsp_);
    text->addWidget(peak_);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(16);
    row->addLayout(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->addLayout(row);
    layout->addWidget(ok, 0, Qt::AlignRight);
    setMinimumWidth(420);
}

void CAboutDlg::keyReleaseEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F11) {
        if ((e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) ==
            (Qt::ControlModifier | Qt::ShiftModifier)) {
            model_->show();
            peak_->show();
        }
        e->accept(); // swallowed otherwise
        return;
    }
    QDialog::keyReleaseEvent(e);
}

} // namespace q7
