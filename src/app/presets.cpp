// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presets.h"

#include "params/device_modes.h"

namespace q7 {

namespace {

// By resource number 427..441.
const char* const kNames[kPresetCount][2] = {
    {"标准卡拉OK", "Standard karaoke"}, {"专业KTV", "Professional KTV"},
    {"流行演唱", "Pop vocals"},         {"民族唱法", "Folk vocals"},
    {"摇滚现场", "Rock live"},          {"家庭影院", "Home cinema"},
    {"电影对白", "Movie dialogue"},     {"纯音乐欣赏", "Music listening"},
    {"派对舞曲", "Party dance"},        {"男声优化", "Male voice"},
    {"女声优化", "Female voice"},       {"会议演讲", "Speech"},
    {"夜间模式", "Night mode"},         {"重低音", "Deep bass"},
    {"清新人声", "Clear voice"},
};

} // namespace

QStringList presetNames(int language) {
    QStringList names;
    for (int i = 0; i < kPresetCount; ++i) {
        const int resource = presetResource(kFirstPresetCommand + i);
        names << QString::fromUtf8(kNames[resource - 427][language == 1 ? 1 : 0]);
    }
    return names;
}

QString presetResourcePath(int resource) {
    return QString(":/presets/%1.q7M").arg(resource);
}

} // namespace q7
