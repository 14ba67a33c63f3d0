// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"

#include "app/main_view.h"
#include "app/master_controls.h"
#include "app/ribbon.h"

namespace q7 {

namespace {

struct Single {
    int id;
    CommandCall call;
};

// By the Input category's id; the Output twins are found with Ribbon::twin().
const Single kSingles[] = {
    {cmd::LoadFile, {ViewCommand::OpenFile}},
    {cmd::AppOpen, {ViewCommand::OpenFile}},
    {cmd::SaveFile, {ViewCommand::SaveFileAs}},
    {cmd::AppSave, {ViewCommand::SaveDocument}},
    {cmd::AppSaveAs, {ViewCommand::SaveDocumentAs}},
    {cmd::AppExit, {ViewCommand::Exit}},
    {cmd::AppHelp, {ViewCommand::Help}},
    {cmd::Reset, {ViewCommand::ResetMachine}},
    {cmd::Undo, {ViewCommand::Undo}},
    {cmd::Redo, {ViewCommand::Redo}},
    {cmd::CompareFile, {ViewCommand::CompareFile}},
    {cmd::CompareAB, {ViewCommand::CompareAB}},
    {cmd::SlotA, {ViewCommand::SwitchSlot, 0}},
    {cmd::SlotB, {ViewCommand::SwitchSlot, 1}},
    {cmd::CopyAB, {ViewCommand::CopySlot, 0}},
    {cmd::CopyBA, {ViewCommand::CopySlot, 1}},
    {cmd::LanguageSwitch, {ViewCommand::SwitchLanguage}},
    {cmd::About, {ViewCommand::About}},
    {cmd::EqBypass, {ViewCommand::EqBypass}},
    {cmd::EqReset, {ViewCommand::EqReset}},
    {cmd::ShowMusic, {ViewCommand::ShowMusic}},
    {32797, {ViewCommand::ShowMusic}}, // two more ids the music page has always answered to
    {32798, {ViewCommand::ShowMusic}},
    {cmd::ShowOutputMain, {ViewCommand::ShowOutput, 5}},
    {cmd::ShowOutputCenter, {ViewCommand::ShowOutput, 3}},
    {cmd::ShowOutputSub, {ViewCommand::ShowOutput, 2}},
    {cmd::ShowOutputRear, {ViewCommand::ShowOutput, 4}},
    {cmd::ShowLocation, {ViewCommand::ShowLocation}},
    {cmd::ShowDelay, {ViewCommand::ShowDelay}},
    {cmd::ShowCompressor, {ViewCommand::ShowCompressor}},
    {cmd::AutoSub, {ViewCommand::AutoSub}},
    {cmd::MusicAgc, {ViewCommand::MusicAgc}},
    {cmd::IrLearning, {ViewCommand::Remote}},
    {cmd::RemoteAccess, {ViewCommand::RemoteAccess}},
    {cmd::TuneRoom, {ViewCommand::TuneRoom}},
    {cmd::Measure, {ViewCommand::Measure}},
};

// Commands given by a run of ids, the argument counting from the first.
struct Run {
    int first, count;
    ViewCommand what;
};
const Run kRuns[] = {
    {cmd::LoadModeFirst, 4, ViewCommand::LoadMode},
    {cmd::SaveModeFirst, 4, ViewCommand::SaveMode},
    {cmd::DefaultModeFirst, 4, ViewCommand::DefaultMode},
    {cmd::PresetFirst, 15, ViewCommand::LoadPreset},
    {cmd::RecentFirst, 10, ViewCommand::OpenRecent},
    {cmd::HdmiFirst, 4, ViewCommand::SelectHdmi},
    {cmd::SourceFirst, 5, ViewCommand::SelectSource},
};

} // namespace

CommandCall commandFor(int id) {
    if (const MasterVolume* v = masterVolumeBySlider(id))
        return {ViewCommand::Volume, v->slider};
    if (id == cmd::PitchSlider || id == Ribbon::twin(cmd::PitchSlider))
        return {ViewCommand::Pitch, cmd::PitchSlider};
    if (const MasterVolume* v = masterVolumeByMute(id))
        return {ViewCommand::Mute, v->mute};
    for (const Run& r : kRuns)
        if (id >= r.first && id < r.first + r.count)
            return {r.what, id - r.first};
    for (const Single& s : kSingles)
        if (s.id == id || Ribbon::twin(s.id) == id)
            return s.call;
    return {};
}

StepName stepOf(const CommandCall& call) {
    switch (call.what) {
    case ViewCommand::Volume:
        return stepNamed(masterVolumeBySlider(call.arg)->cell);
    case ViewCommand::Mute:
        return stepNamed(masterVolumeByMute(call.arg)->muteCell);
    case ViewCommand::Pitch:
        return stepNamed(cell::MusicPitch);
    case ViewCommand::EqBypass:
        return {"均衡旁路", "EQ bypass"};
    case ViewCommand::EqReset:
        return {"重置均衡", "Reset EQ"};
    default:
        return {};
    }
}

} // namespace q7
