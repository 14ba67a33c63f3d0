// SPDX-License-Identifier: GPL-3.0-or-later
// The noise gate (F6), auto-SUB and music AGC dialogs: small settings without a page of their
// own, each written to the store and sent at once.
#pragma once

#include "pages/tool_dialog.h"

#include <array>

class QCheckBox;
class QGroupBox;
class QPushButton;

namespace q7 {

// Modal. The sliders run the other way round: position p stands for n = 101 - p.
class CDialogNG : public ToolDialog {
    Q_OBJECT
public:
    CDialogNG(EditorContext& editor, QWidget* parent);
    void refresh() override;
    void applyLanguage() override;

    // Mic attack, mic release, music attack, music release.
    CXBmpSlider* gateSlider(int i) const { return sliders_[std::size_t(i)]; }
    QLabel* gateLabel(int i) const { return values_[std::size_t(i)]; }

private:
    std::array<CXBmpSlider*, 4> sliders_{};
    std::array<QLabel*, 4> values_{};
    std::array<QLabel*, 4> captions_{};
    QGroupBox* mic_;
    QGroupBox* music_;
    QPushButton* ok_;
    QPushButton* cancel_;

    void moved(int i, int position);
};

// What the auto-SUB and music AGC dialogs share: an ON box enabling a slider with its caption
// and label.
class OnOffLevelDialog : public ToolDialog {
    Q_OBJECT
public:
    OnOffLevelDialog(EditorContext& editor, int templateId, int onCell, QWidget* parent);
    void refresh() override;

    QCheckBox* onBox() const { return on_; }
    CXBmpSlider* levelSlider() const { return slider_; }
    QLabel* levelLabel() const { return value_; }
    QLabel* levelCaption() const { return caption_; }

protected:
    QCheckBox* on_;
    CXBmpSlider* slider_;
    QLabel* value_;
    QLabel* caption_;
    QLabel* explanation_;
    int onCell_;

    virtual void showLevel() = 0;
    virtual void moved(int position) = 0;
    void setEnables();
};

class CAutoSubDlg : public OnOffLevelDialog {
    Q_OBJECT
public:
    CAutoSubDlg(EditorContext& editor, QWidget* parent);
    void applyLanguage() override;

protected:
    void showLevel() override;
    void moved(int position) override;
};

class CAutoMusicVolDlg : public OnOffLevelDialog {
    Q_OBJECT
public:
    CAutoMusicVolDlg(EditorContext& editor, QWidget* parent);
    void applyLanguage() override;

protected:
    void showLevel() override;
    void moved(int position) override;
};

} // namespace q7
