// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes and file dialogs. The editor asks through this interface so that tests can
// answer for the user; the real one shows Qt dialogs on the GUI thread.
#pragma once

#include <QString>

namespace q7 {
struct WriteResult;
class Language;
} // namespace q7

class QWidget;

namespace q7 {

enum class Answer { Yes, No, Cancel };
enum class BoxIcon { None, Information, Warning, Error, Question };

class Prompter {
public:
    virtual ~Prompter() = default;
    // Yes/No, or Yes/No/Cancel.
    virtual Answer ask(QWidget* parent, const QString& caption, const QString& text,
                       bool withCancel) = 0;
    // Yes/No with No as the default button: for a question whose Yes destroys something.
    virtual Answer askDefaultNo(QWidget* parent, const QString& caption, const QString& text) {
        return ask(parent, caption, text, false);
    }
    // One OK button.
    virtual void tell(QWidget* parent, BoxIcon icon, const QString& caption,
                      const QString& text) = 0;
    // Empty when cancelled.
    virtual QString openFile(QWidget* parent, const QString& filter) = 0;
    virtual QString saveFile(QWidget* parent, const QString& filter, const QString& defaultName,
                             const QString& defaultSuffix) = 0;
    // An existing folder; empty when cancelled (and where no folder can be chosen).
    virtual QString chooseFolder(QWidget* /*parent*/, const QString& /*caption*/,
                                 const QString& /*start*/) {
        return {};
    }

    // How many boxes or file dialogs are open now. Each runs an event loop of its own, so the
    // window that asked must not be closed (and deleted) under it until it has returned.
    int openDialogs() const { return open_; }

protected:
    // Held by an implementation while its box or dialog is open.
    class Open {
    public:
        explicit Open(Prompter& p) : p_(p) { ++p_.open_; }
        ~Open() { --p_.open_; }
        Open(const Open&) = delete;
        Open& operator=(const Open&) = delete;

    private:
        Prompter& p_;
    };

private:
    int open_ = 0;
};

class QtPrompter final : public Prompter {
public:
    Answer ask(QWidget* parent, const QString& caption, const QString& text,
               bool withCancel) override;
    Answer askDefaultNo(QWidget* parent, const QString& caption, const QString& text) override;
    void tell(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text) override;
    QString openFile(QWidget* parent, const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& filter, const QString& defaultName,
                     const QString& defaultSuffix) override;
    QString chooseFolder(QWidget* parent, const QString& caption, const QString& start) override;
};

// The box that says a file was not written and why ("disk full", "read-only", ...) in the
// current language; the previous file is kept, so it says that too.
void tellWriteFailure(Prompter& prompter, const Language& l, QWidget* parent, const QString& path,
                      const WriteResult& r);

} // namespace q7
