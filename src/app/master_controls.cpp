// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/master_controls.h"

#include "app/ribbon.h"
#include "params/param_names.h"

#include <cassert>

namespace q7 {

namespace {

const MasterVolume kVolumes[] = {
    {cmd::MicSlider, cmd::MicLabel, 26, "话筒音量:", "Mic    Vol: ", 3, "不能超过最大话筒音量!",
     "Mic vol can't over max value!", cmd::MicMute, 44, "mic"},
    {cmd::EffectSlider, cmd::EffectLabel, 43, "总效果音量:", "Effect    Vol:", -1, nullptr, nullptr,
     0, -1, "effect"},
    {cmd::ReverbSlider, cmd::ReverbLabel, 83, "混响音量:  ", "Reverb Vol:", -1, nullptr, nullptr,
     cmd::ReverbMute, 84, "reverb"},
    {cmd::EchoSlider, cmd::EchoLabel, 71, "回声音量:", "Echo Vol:", -1, nullptr, nullptr,
     cmd::EchoMute, 72, "echo"},
    {cmd::MusicSlider, cmd::MusicLabel, 85, "音乐音量:", "Music Vol:", 4, "不能超过最大音乐音量!",
     "Music vol can't over max value!", cmd::MusicMute, 86, "music"},
    {cmd::GateSlider, cmd::GateLabel, 89, "音乐噪声门:", "Noisegate:   ", -1, nullptr, nullptr, 0,
     -1, "gate"},
};

} // namespace

std::span<const MasterVolume> masterVolumes() {
    return kVolumes;
}

const MasterVolume* masterVolumeBySlider(int id) {
    for (const MasterVolume& v : kVolumes)
        if (id == v.slider || id == Ribbon::twin(v.slider))
            return &v;
    return nullptr;
}

const MasterVolume* masterVolumeByMute(int id) {
    for (const MasterVolume& v : kVolumes)
        if (v.mute && (id == v.mute || id == Ribbon::twin(v.mute)))
            return &v;
    return nullptr;
}

const ParamInfo& masterParam(int cell) {
    const ParamInfo* p = cellParam(cell);
    assert(p);
    return *p;
}

StepName stepNamed(int cell) {
    const ParamInfo& p = masterParam(cell);
    return {p.nameZh, p.nameEn};
}

} // namespace q7
