// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_frame.h"

#include "app/editor.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "app/status_bar.h"

#include <QCloseEvent>
#include <QSettings>

namespace q7 {

CMainFrame::CMainFrame(Editor& editor) : editor_(editor) {
    setObjectName("CMainFrame");
    setWindowTitle("DSP-Q7-v1.1 2014-7-11");
    setWindowIcon(QIcon(":/images/app.png"));
    setMinimumSize(1024, 700);
    editor_.profile().setValue("ApplicationLook", 215);

    ribbon_ = new Ribbon(editor_.language(), this);
    setMenuWidget(ribbon_);
    status_ = new MainStatusBar(this);
    setStatusBar(status_);
    view_ = new CHX2060v13View(editor_, *ribbon_, *status_, this);
    setCentralWidget(view_);
    resize(1180, 820);
}

void CMainFrame::raiseWindow() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
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
