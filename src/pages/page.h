// What the page host needs of a page: its kind, refresh, language and EQ hooks.
#pragma once

#include "app/editor_fwd.h"

#include <QWidget>

namespace q7 {

enum class PageKind { Music, Effects, Output, Compressor, Delay, Location };

// Dialog template numbers (also the language table's key prefixes).
int dialogIdOf(PageKind kind);

inline constexpr int kMinPageWidth = 1024;
inline constexpr int kMinPageHeight = 520;

class CPage : public QWidget {
    Q_OBJECT
public:
    CPage(PageKind kind, Editor& editor, QWidget* parent);
    PageKind kind() const { return kind_; }
    int dialogId() const { return dialogIdOf(kind_); }

    // Re-reads the store (after a synchronisation, a mode load or a preset).
    virtual void refresh() {}
    // Re-applies the current language.
    virtual void applyLanguage();
    // The music, output and effects pages have an EQ the status bar can bypass or reset.
    virtual bool hasEq() const { return false; }
    virtual bool eqBypass() const { return false; }
    virtual void setEqBypass(bool on) { (void)on; }
    virtual void resetEq() {}
    // Output pages: the bank shown (5 main, 4 rear, 3 center, 2 sub, 11 top).
    virtual int bank() const { return 0; }
    virtual void setBank(int bank) { (void)bank; }

protected:
    Editor& editor_;

private:
    PageKind kind_;
};

// Stands in for a page until its real class exists.
class PlaceholderPage : public CPage {
    Q_OBJECT
public:
    PlaceholderPage(PageKind kind, int bank, Editor& editor, QWidget* parent);
    void applyLanguage() override;
    int bank() const override { return bank_; }
    void setBank(int bank) override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    int bank_;
};

} // namespace q7
