#include "app/sync_dialog.h"

#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"
#include "ui/timeline.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace q7 {

CSyncDlg::CSyncDlg(const QString& text, Language& language, Timeline& timeline, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint), timeline_(timeline) {
    setObjectName("CSyncDlg");
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose);
    setPageBackground(this);
    setCursor(Qt::WaitCursor);
    setWindowTitle(language.pick("同步过程", "Synchronize"));
    label_ = new QLabel(text.isEmpty() ? language.pick("当前正在与机器同步数据,请稍后......",
                                                       "Please wait a moment……")
                                       : text,
                        this);
    label_->setFont(songti(14));
    label_->setAlignment(Qt::AlignCenter);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0); // marquee
    bar_->setTextVisible(false);
    bar_->setFixedHeight(16);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    setFixedSize(380, 120);
    guard_ = timeline_.start(kSyncGuardMs, false, [this] {
        guard_ = 0;
        close();
        emit timedOut(); // queued by the view: the message opens after this returns
    });
}

CSyncDlg::~CSyncDlg() {
    if (guard_)
        timeline_.stop(guard_);
}

void CSyncDlg::finish() {
    if (guard_) {
        timeline_.stop(guard_);
        guard_ = 0;
    }
    close();
}

QString CSyncDlg::text() const {
    return label_->text();
}

} // namespace q7
