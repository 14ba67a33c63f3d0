// SPDX-License-Identifier: GPL-3.0-or-later
// IR remote learning: CRemoteDlg shows a remote control whose keys start learning in the
// amplifier, loads, saves and applies the learned key table; CRemoteStudyDlg waits for the key
// to be pressed and shows the code the amplifier reports.
#pragma once

#include "pages/tool_dialog.h"

#include <array>

class QLineEdit;
class QPushButton;

namespace q7 {

class CGdipButton;
class CRemoteStudyDlg;

// The learnable keys are 1..15; three more keys are on the remote but cannot be learned.
inline constexpr int kLearnableKeys = 15;
// The hot area id of key n (1..15), and of the unsupported keys 16..18.
int remoteKeyId(int key);
// The learning prompt of key n in a language.
QString learningPrompt(int key, bool english);
// A key file's name with its extension replaced by "remo".
QString remoteFileName(const QString& chosen);

class RemotePicture;

class CRemoteDlg : public ToolDialog {
    Q_OBJECT
public:
    CRemoteDlg(EditorContext& editor, QWidget* parent);
    void applyLanguage() override;

    // What a click on the hot area of key n (1..18) does.
    void keyClicked(int key);
    void applyTable();
    void loadFile();
    void saveFile();

    QWidget* hotArea(int key) const;
    CGdipButton* loadButton() const { return load_; }
    CGdipButton* saveButton() const { return save_; }
    CGdipButton* applyButton() const { return apply_; }
    CRemoteStudyDlg* learning() const;
    // What the dialog says about which keys' codes are known.
    QLabel* knownKeysText() const { return known_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    RemotePicture* picture_;
    // True when the table holds a code, or the user wants the empty one all the same.
    bool confirmEmptyTable(bool saving);
    // True when every key's code is known, or the user lets the unknown ones be erased; No may
    // go on to load a key file (offerLoad).
    bool confirmUnknownKeys(bool offerLoad);
    void showKnownKeys();
    QLabel* known_;
    QString connectFirstText() const;
    CGdipButton* load_;
    CGdipButton* save_;
    CGdipButton* apply_;
    QRect banner_;
};

class CRemoteStudyDlg : public ToolDialog {
    Q_OBJECT
public:
    CRemoteStudyDlg(EditorContext& editor, const QString& prompt, QWidget* parent);
    ~CRemoteStudyDlg() override;
    void applyLanguage() override;

    // The amplifier reported the learned code.
    void codeLearned(int code);
    // "Cancel", Esc or the close box before a code came: the amplifier stops waiting for the
    // key (reject() does this).

    QLabel* promptText() const { return prompt_; }
    QLineEdit* codeField() const { return code_; }
    QLabel* statusLine() const { return status_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* closeButton() const { return close_; }
    bool learned() const { return learned_; }

public slots:
    void reject() override;

private:
    QLabel* prompt_;
    QLabel* keyCaption_;
    QLineEdit* code_;
    QLabel* status_;
    QPushButton* cancel_;
    QPushButton* close_;
    int timer_ = 0;
    bool learned_ = false;
    bool cancelled_ = false;
};

} // namespace q7
