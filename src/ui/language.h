// SPDX-License-Identifier: GPL-3.0-or-later
// The language index, the two language tables, and ApplyLanguage.
#pragma once

#include "ini/ini_table.h"
#include "ui/control_id.h"

#include <QObject>
#include <QString>

class QSettings;
class QTranslator;
class QWidget;

namespace q7 {

inline constexpr int kChinese = 0;
inline constexpr int kEnglish = 1;

// The language to start in: the saved choice when the profile holds one; at the first start the
// system's (Chinese for a zh_* locale, English for any other), which is saved as the choice.
int startLanguageIndex(QSettings* profile, const QString& localeName);

class Language : public QObject {
    Q_OBJECT
public:
    explicit Language(QObject* parent = nullptr);

    int index() const { return index_; }
    bool english() const { return index_ == kEnglish; }
    // Switches the index (0 Chinese, 1 English), Qt's own dialog texts with it, and tells
    // everyone who shows texts.
    void setIndex(int index);

    // One of a pair of texts by the current index.
    QString pick(const char* chinese, const char* english) const;

    // The current table's text for a key; empty when it has none.
    QString text(const QString& key) const;
    const IniTable& table(int index) const { return tables_[index == kEnglish ? 1 : 0]; }
    // Replaces a table (tests, or a table read from elsewhere).
    void setTable(int index, const QByteArray& iniText);

    // Title from "IDD<id>_title", and each direct child's text from "IDD<id>_<controlId>".
    // Missing or empty keys leave the text as it was; grandchildren are not visited.
    void ApplyLanguage(QWidget* window, int dialogId) const;

signals:
    void changed(int index);

private:
    int index_ = kChinese;
    IniTable tables_[2];
    // Qt's own texts (message box buttons, file dialogs) in Chinese; none in English.
    QTranslator* qtTexts_ = nullptr;
    bool qtTextsOn_ = false;
    void followInQtTexts();
};

} // namespace q7
