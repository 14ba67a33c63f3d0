// SPDX-License-Identifier: GPL-3.0-or-later
// CInfoDlg: the transient information popup that ShowInfo puts up for short notices. Notices
// stack: one shown while another is still up goes below it, and each leaves after its own time,
// so none hides another the user is still reading.
#pragma once

#include <QDialog>
#include <QStringList>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace q7 {

class Language;
class Timeline;

class CInfoDlg : public QDialog {
    Q_OBJECT
public:
    CInfoDlg(Language& language, Timeline& timeline, QWidget* parent);
    ~CInfoDlg() override;
    // Adds a notice that leaves after ms; the same text again restarts its time instead. The
    // popup closes when its last notice has gone, or with its "Close" button.
    void showText(const QString& text, int ms);
    // The notice shown (or shown again) last.
    QString text() const;
    // Every notice shown, oldest first.
    QStringList texts() const;
    // The title and the button in the current language.
    void applyLanguage();

private:
    struct Notice {
        QLabel* label;
        int timer;
    };
    Language& language_;
    Timeline& timeline_;
    QVBoxLayout* notices_;
    QPushButton* close_;
    std::vector<Notice> shown_;
    QLabel* latest_ = nullptr;
    void expire(QLabel* label);
    void place();
};

} // namespace q7
