// SPDX-License-Identifier: GPL-3.0-or-later
// CHelpDlg: the help window. It shows the tour of the README, which the program carries with its
// pictures, so help works without a network or an installed browser.
#pragma once

#include <QDialog>

class QLabel;
class QTextBrowser;

namespace q7 {

class Language;

// The part of the README a user reads: from its tour up to the developers' sections. The whole
// text when the tour's heading is missing.
QString helpText(const QString& readme);

class CHelpDlg : public QDialog {
    Q_OBJECT
public:
    CHelpDlg(Language& language, QWidget* parent);
    void applyLanguage();
    QTextBrowser* browser() const { return browser_; }

private:
    static constexpr int kPictureWidth = 820;
    Language& language_;
    QLabel* note_;
    QTextBrowser* browser_;
    void fitPictures(int width);
};

} // namespace q7
