// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/language.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QSettings>
#include <QTranslator>
#include <QWidget>

namespace q7 {

int startLanguageIndex(QSettings* profile, const QString& localeName) {
    if (profile && profile->contains("language"))
        return profile->value("language").toInt() == kEnglish ? kEnglish : kChinese;
    const int index = localeName.startsWith("zh") ? kChinese : kEnglish;
    if (profile)
        profile->setValue("language", index);
    return index;
}

Language::Language(QObject* parent) : QObject(parent) {
    for (int i = 0; i < 2; ++i) {
        QFile f(i == 0 ? QStringLiteral(":/lang/331.ini") : QStringLiteral(":/lang/332.ini"));
        if (f.open(QIODevice::ReadOnly))
            setTable(i, f.readAll());
    }
}

void Language::setTable(int index, const QByteArray& iniText) {
    tables_[index == kEnglish ? 1 : 0].parse(std::string_view(iniText.constData(), iniText.size()));
}

void Language::setIndex(int index) {
    index_ = index == kEnglish ? kEnglish : kChinese;
    followInQtTexts();
    emit changed(index_);
}

void Language::followInQtTexts() {
    if (!QCoreApplication::instance())
        return;
    if (index_ == kEnglish) {
        if (qtTexts_ && qtTextsOn_)
            QCoreApplication::removeTranslator(qtTexts_);
        qtTextsOn_ = false;
        return;
    }
    if (!qtTexts_) {
        qtTexts_ = new QTranslator(this);
        if (!qtTexts_->load(QStringLiteral("qtbase_zh_CN"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            delete qtTexts_; // not installed here: Qt's texts stay English
            qtTexts_ = nullptr;
            return;
        }
    }
    if (!qtTextsOn_)
        QCoreApplication::installTranslator(qtTexts_);
    qtTextsOn_ = true;
}

QString Language::pick(const char* chinese, const char* english) const {
    return QString::fromUtf8(english && index_ == kEnglish ? english : chinese);
}

QString Language::text(const QString& key) const {
    return QString::fromStdString(table(index_).value(key.toStdString()));
}

void Language::ApplyLanguage(QWidget* window, int dialogId) const {
    if (!window)
        return;
    const QString title = text(QStringLiteral("IDD%1_title").arg(dialogId));
    if (!title.isEmpty())
        window->setWindowTitle(title);
    for (QObject* o : window->children()) {
        auto* child = qobject_cast<QWidget*>(o);
        const int id = child ? controlId(child) : 0;
        if (!id)
            continue;
        const QString t = text(QStringLiteral("IDD%1_%2").arg(dialogId).arg(id));
        if (t.isEmpty())
            continue;
        if (auto* b = qobject_cast<QAbstractButton*>(child))
            b->setText(t);
        else if (auto* l = qobject_cast<QLabel*>(child))
            l->setText(t);
        else if (auto* g = qobject_cast<QGroupBox*>(child))
            g->setTitle(t);
        else
            child->setProperty("text", t);
    }
}

} // namespace q7
