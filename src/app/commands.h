// SPDX-License-Identifier: GPL-3.0-or-later
// What the ribbon, the application menu, the status bar and the shortcuts ask the main view to
// do, by name. The controls still carry numeric ids (their tooltips and language tables are keyed
// on them); commandFor() is the one table from an id to its command.
#pragma once

#include "params/edit_path.h"

#include <cstdint>

namespace q7 {

enum class ViewCommand : std::uint8_t {
    None,
    // The master controls (arg: the Input category's slider or mute box id).
    Volume,
    Pitch,
    Mute,
    // Device modes (arg: the mode, 0..3) and the machine.
    LoadMode,
    SaveMode,
    DefaultMode,
    ResetMachine,
    SelectHdmi,   // arg: the port, 0..3
    SelectSource, // arg: the source, 0..4
    // Files and presets.
    OpenFile,
    OpenRecent, // arg: the entry, 0..9
    SaveFileAs, // the ribbon's "SaveFile": always asks for the name
    SaveDocument,
    SaveDocumentAs,
    LoadPreset, // arg: the preset, 0..14
    Exit,
    // History and A/B.
    Undo,
    Redo,
    CompareFile,
    CompareAB,
    SwitchSlot, // arg: 0 A, 1 B
    CopySlot,   // arg: the slot copied from (to the other)
    // The EQ of the page shown.
    EqBypass,
    EqReset,
    // Pages (arg: the output's bank for ShowOutput).
    ShowMusic,
    ShowOutput,
    ShowLocation,
    ShowDelay,
    ShowCompressor,
    // Dialogs and texts.
    AutoSub,
    MusicAgc,
    Remote,
    RemoteAccess,
    TuneRoom,
    Measure,
    Help,
    About,
    SwitchLanguage,
};

struct CommandCall {
    ViewCommand what = ViewCommand::None;
    int arg = 0;
    bool operator==(const CommandCall&) const = default;
};

// The command a control's id (either category's twin) asks for; None for an id that is none.
CommandCall commandFor(int id);

// The undo step a command that changes the settings is, named after what it changes; empty for
// commands that change none (or that make their own step, as loading a file or preset does).
StepName stepOf(const CommandCall& call);

} // namespace q7
