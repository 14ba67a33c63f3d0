// SPDX-License-Identifier: GPL-3.0-or-later
// What pages and dialogs reach the rest of the editor through: the services they use and the few
// requests they make of the window that hosts them. The application object implements it, so
// nothing below app/ needs to know the main window.
#pragma once

#include "protocol/file_writer.h"

#include <vector>

class QString;

namespace q7 {

class AudioBackend;
class Connection;
class CRemoteStudyDlg;
class Dsp;
class EditPath;
class EqOverlays;
class Language;
class ParameterStore;
class Prompter;
class Timeline;

enum class PageKind { Music, Effects, Output, Compressor, Delay, Location };

class EditorContext {
public:
    virtual ParameterStore& store() = 0;
    virtual Connection& connection() = 0;
    // The senders of edits (the edit path's): the amplifier's while connected, silent while not.
    virtual Dsp& dsp() = 0;
    // Where edits are recorded for undo, and what the amplifier is known to hold.
    virtual EditPath& edits() = 0;
    virtual Timeline& timeline() = 0;
    virtual Language& language() = 0;
    virtual Prompter& prompter() = 0;
    // The measurements shown over the EQ graphs, kept while this editor runs.
    virtual EqOverlays& eqOverlays() = 0;
    virtual bool linkOpen() const = 0;
    // The audio devices a measurement can use: the simulated amplifier's first, then the
    // computer's; empty where there are none.
    virtual std::vector<AudioBackend*> audioBackends() { return {}; }

    // The transient information popup.
    virtual void ShowInfo(const QString& text, int ms) = 0;

    // The input bank the music page shows (0 music, 1 mic channel A, 8 mic channel B): the
    // editor's, so it outlives the page, starting as 1.
    int inputBank() const { return inputBank_; }
    // Every file the editor saves or exports is written through this.
    FileWriter& files() { return files_; }
    // The remote keys (bit n for key n, 1..15) whose codes the editor knows: learned or loaded
    // from a file while it runs. The amplifier cannot report its table, so the others read 0
    // whatever the amplifier has learned.
    unsigned knownKeys() const { return knownKeys_; }
    void markKeysKnown(unsigned keys) { knownKeys_ |= keys & 0xFFFEu; }
    void setInputBank(int bank) { inputBank_ = (bank == 0 || bank == 8) ? bank : 1; }

    // Requests of the main window; ignored while it does not exist (screenshots, early start).
    // Shows a page of the kind (and, for outputs and effects, bank).
    virtual void showPage(PageKind kind, int bank) = 0;
    // The output bank the ribbon's output command returns to.
    virtual void setLastOutput(int bank) = 0;
    // Restores a device mode to its factory state and resynchronises.
    virtual void defaultMode(int mode) = 0;
    // The learning dialog that receives learned key codes, or none.
    virtual void setLearningDialog(CRemoteStudyDlg* dialog) = 0;
    // A dialog changed a master volume cell (the machine settings' start volumes are heard while
    // set): the ribbon's sliders and labels show the store again.
    virtual void masterVolumesChanged() {}

protected:
    ~EditorContext() = default;

private:
    int inputBank_ = 1;
    FileWriter files_;
    unsigned knownKeys_ = 0;
};

} // namespace q7
