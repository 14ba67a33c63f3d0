// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_frame.h"

#include "app/editor.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "app/status_bar.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <memory>

namespace q7 {

CMainFrame::CMainFrame(Editor& editor) : editor_(editor) {
    setObjectName("CMainFrame");
    setWindowTitle("DSP-Q7-v1.1 2014-7-11");
    setWindowIcon(QIcon(":/images/app.png"));
    setMinimumSize(1024, 700);
    editor_.setSetting("ApplicationLook", 215);

    ribbon_ = new Ribbon(editor_.language(), this);
    setMenuWidget(ribbon_);
    status_ = new MainStatusBar(this);
    setStatusBar(status_);
    view_ = new CHX2060v13View(editor_, *ribbon_, *status_, this);
    setCentralWidget(view_);
    resize(1180, 820);
    // Files dropped on the window open; controls that take drops of their own (the EQ graphs)
    // keep them.
    setAcceptDrops(true);
}

void CMainFrame::raiseWindow() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* e) {
    // Whatever it is, it may be dropped: a drop that cannot be opened is told, not ignored.
    e->acceptProposedAction();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* e) {
    e->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* e) {
    e->acceptProposedAction();
    // What follows may ask or tell in a box: not while the dragging program waits for the drop
    // to end.
    auto copy = std::make_shared<QMimeData>();
    for (const QString& format : e->mimeData()->formats())
        copy->setData(format, e->mimeData()->data(format));
    QMetaObject::invokeMethod(
        this, [this, copy] { view_->dropped(copy.get()); }, Qt::QueuedConnection);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (!view_->canClose()) {
        e->ignore();
        return;
    }
    editor_.saveWindow();
    editor_.shutDownLink();
    e->accept();
}

} // namespace q7
