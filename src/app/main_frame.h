// SPDX-License-Identifier: GPL-3.0-or-later
// CMainFrame: the main window around the ribbon, the view and the status bar.
#pragma once

#include "app/editor_fwd.h"

#include <QMainWindow>

namespace q7 {

class CHX2060v13View;

class MainStatusBar;
class Ribbon;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(Editor& editor);

    Ribbon& ribbon() const { return *ribbon_; }
    MainStatusBar& statusBarPanes() const { return *status_; }
    CHX2060v13View& view() const { return *view_; }

    // Brings the window to the front (a second copy of the editor asks for it).
    void raiseWindow();

signals:
    // Amplifier arrival closes the modeless dialogs; a passed check refreshes them.
    void closeModelessDialogs();
    void refreshModelessDialogs();

protected:
    void closeEvent(QCloseEvent* e) override;
    // A drop that reaches the window itself (no control under the pointer took it).
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    Editor& editor_;
    Ribbon* ribbon_;
    MainStatusBar* status_;
    CHX2060v13View* view_;
};

} // namespace q7
