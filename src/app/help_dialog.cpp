// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/help_dialog.h"

#include "ui/language.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace q7 {

QString helpText(const QString& readme) {
    const qsizetype tour = readme.indexOf("\n## A tour");
    if (tour < 0)
        return readme;
    // The sections after the tour that are for users end where the project's own begin.
    qsizetype end = readme.indexOf("\n## Layout", tour);
    if (end < 0)
        end = readme.size();
    return readme.mid(tour + 1, end - tour - 1);
}

CHelpDlg::CHelpDlg(Language& language, QWidget* parent)
    : QDialog(parent, Qt::Window), language_(language) {
    setObjectName("HelpDialog");
    note_ = new QLabel(this);
    note_->setWordWrap(true);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    // The pictures' paths in the text are relative to the README's folder.
    browser_->setSearchPaths({":/help"});
    QFile f(":/help/README.md");
    const QString readme = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    browser_->setMarkdown(helpText(readme));
    fitPictures(kPictureWidth);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note_);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
    resize(900, 720);
    applyLanguage();
}

void CHelpDlg::fitPictures(int width) {
    // Screenshots are a window wide: shown at most `width` wide, in proportion.
    QTextDocument* doc = browser_->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            if (!image.isValid())
                continue;
            const QImage picture(":/help/" + image.name());
            if (picture.isNull() || picture.width() <= width)
                continue;
            image.setWidth(width);
            image.setHeight(double(picture.height()) * width / picture.width());
            QTextCursor c(doc);
            c.setPosition(fragment.position());
            c.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            c.setCharFormat(image);
        }
    }
}

void CHelpDlg::applyLanguage() {
    setWindowTitle(language_.pick("帮助 - DSP-Q7-v1.1", "Help - DSP-Q7-v1.1"));
    note_->setText(language_.pick("使用说明（英文）：连接、编辑、保存与模式、离线编辑、撤销与 A/B、"
                                  "测量均衡。",
                                  "How to use the editor: connecting, editing, saving and modes, "
                                  "offline editing, undo and A/B, measurement-driven EQ."));
    note_->setVisible(!note_->text().isEmpty());
    if (auto* close = findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close))
        close->setText(language_.pick("关闭", "Close"));
}

} // namespace q7
