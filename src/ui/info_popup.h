// SPDX-License-Identifier: GPL-3.0-or-later
// CInfoDlg: the transient information popup that ShowInfo puts up for short notices.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace q7 {

class Language;
class Timeline;

class CInfoDlg : public QDialog {
    Q_OBJECT
public:
    CInfoDlg(Language& language, Timeline& timeline, QWidget* parent);
    ~CInfoDlg() override;
    // Shows text and closes after ms; a second call replaces the text and restarts the time.
    void showText(const QString& text, int ms);
    QString text() const;
    // The title and the button in the current language.
    void applyLanguage();

private:
    Language& language_;
    Timeline& timeline_;
    QLabel* label_;
    QPushButton* close_;
    int timer_ = 0;
};

} // namespace q7
