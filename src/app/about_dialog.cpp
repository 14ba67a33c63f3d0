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
    setMinimumWidth(360);
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
