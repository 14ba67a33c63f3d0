// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/edit_path.h"

#include "params/param_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace q7 {

namespace {

constexpr int kPlanFirstCell = cell::SpeakerY; // 4..23
constexpr int kPlanLastCell = cell::RoomWidth;

BandRecord recordAt(const BandImage& image, int offset) {
    return BandRecord::fromBytes(&image[std::size_t(offset)]);
}

} // namespace

bool isSettingsCell(int c) {
    return (c >= kPlanFirstCell && c <= kPlanLastCell) ||
           (c >= kSavedFirstCell && c <= kSavedLastCell);
}

ModeImage settingsOf(const ParameterStore& store) {
    ModeImage m = store.modeImage();
    for (int c = 0; c < kCellCount; ++c)
        if (!isSettingsCell(c))
            m.cells[std::size_t(c)] = 0;
    return m;
}

void applySettings(ParameterStore& store, const ModeImage& image) {
    ModeImage saved = image;
    saved.firstCell = kSavedFirstCell;
    saved.lastCell = kSavedLastCell;
    store.applyModeImage(saved); // decodes the plan block into cells 4..23
    // The cells are what the user set; the block is only their rounded copy.
    for (int c = kPlanFirstCell; c <= kPlanLastCell; ++c)
        store.setCellBits(c, image.cells[std::size_t(c)]);
}

// ---- Change ----

Change Change::between(const ModeImage& a, const ModeImage& b) {
    Change ch;
    for (int c = 0; c < kCellCount; ++c)
        if (isSettingsCell(c) && a.cells[std::size_t(c)] != b.cells[std::size_t(c)])
            ch.cells.push_back({c, a.cells[std::size_t(c)], b.cells[std::size_t(c)]});
    for (const EqGroup& g : eqGroups())
        for (int r = 0; r < g.records; ++r) {
            const int offset = g.offset + int(kBandRecordSize) * r;
            if (std::memcmp(&a.bandImage[std::size_t(offset)], &b.bandImage[std::size_t(offset)],
                            kBandRecordSize) != 0)
                ch.bands.push_back(
                    {g.group, r, recordAt(a.bandImage, offset), recordAt(b.bandImage, offset)});
        }
    if (a.plan != b.plan)
        ch.plan = Swap<PlanBlock>{a.plan, b.plan};
    if (a.speakerLevels != b.speakerLevels)
        ch.speakerLevels = Swap<SpeakerLevelBlock>{a.speakerLevels, b.speakerLevels};
    if (a.extra != b.extra)
        ch.extra = Swap<ExtraBlock>{a.extra, b.extra};
    return ch;
}

bool Change::empty() const {
    return cells.empty() && bands.empty() && !plan && !speakerLevels && !extra;
}

void Change::absorb(const Change& later) {
    for (const Cell& l : later.cells) {
        auto it = std::find_if(cells.begin(), cells.end(),
                               [&](const Cell& c) { return c.index == l.index; });
        if (it == cells.end())
            cells.push_back(l);
        else
            it->after = l.after;
    }
    std::erase_if(cells, [](const Cell& c) { return c.before == c.after; });
    std::sort(cells.begin(), cells.end(),
              [](const Cell& x, const Cell& y) { return x.index < y.index; });
    for (const Band& l : later.bands) {
        auto it = std::find_if(bands.begin(), bands.end(), [&](const Band& b) {
            return b.group == l.group && b.record == l.record;
        });
        if (it == bands.end())
            bands.push_back(l);
        else
            it->after = l.after;
    }
    std::erase_if(bands, [](const Band& b) { return b.before == b.after; });
    std::sort(bands.begin(), bands.end(), [](const Band& x, const Band& y) {
        return x.group != y.group ? x.group < y.group : x.record < y.record;
    });
    auto join = [](auto& mine, const auto& theirs) {
        if (!theirs)
            return;
        if (!mine)
            mine = theirs;
        else
            mine->after = theirs->after;
        if (mine->before == mine->after)
            mine.reset();
    };
    join(plan, later.plan);
    join(speakerLevels, later.speakerLevels);
    join(extra, later.extra);
}

void Change::applyTo(ParameterStore& store, Side side) const {
    const bool after = side == Side::After;
    // Writing the plan block decodes it over cells 4..23: they keep what the user had, unrounded
    // (a decoded 0x80 would turn 0 into -0), and the step's own cells follow.
    if (plan) {
        std::array<std::uint32_t, kPlanLastCell - kPlanFirstCell + 1> kept{};
        for (int c = kPlanFirstCell; c <= kPlanLastCell; ++c)
            kept[std::size_t(c - kPlanFirstCell)] = store.cellBits(c);
        store.writePlanBlock(0, after ? plan->after : plan->before);
        for (int c = kPlanFirstCell; c <= kPlanLastCell; ++c)
            store.setCellBits(c, kept[std::size_t(c - kPlanFirstCell)]);
    }
    for (const Cell& c : cells)
        store.setCellBits(c.index, after ? c.after : c.before);
    for (const Band& b : bands)
        store.setBand(b.group, b.record, after ? b.after : b.before);
    if (speakerLevels)
        store.writeSpeakerLevelBlock(0, after ? speakerLevels->after : speakerLevels->before);
    if (extra) {
        const ExtraBlock& e = after ? extra->after : extra->before;
        for (std::size_t i = 0; i < e.size(); ++i)
            store.setExtraByte(i, e[i]);
    }
}

void Change::applyTo(ModeImage& image, Side side) const {
    const bool after = side == Side::After;
    for (const Cell& c : cells)
        image.cells[std::size_t(c.index)] = after ? c.after : c.before;
    for (const Band& b : bands) {
        const int offset = bandOffset(b.group, b.record);
        if (offset >= 0)
            (after ? b.after : b.before).toBytes(&image.bandImage[std::size_t(offset)]);
    }
    if (plan)
        image.plan = after ? plan->after : plan->before;
    if (speakerLevels)
        image.speakerLevels = after ? speakerLevels->after : speakerLevels->before;
    if (extra)
        image.extra = after ? extra->after : extra->before;
}

// ---- History ----

void History::record(Step step) {
    if (step.change.empty())
        return;
    undone_.clear();
    if (!sealed_ && !done_.empty() && done_.back().mergesWith(step)) {
        Step& last = done_.back();
        last.change.absorb(step.change);
        if (last.change.empty())
            done_.pop_back(); // the hold ended where it began
        return;
    }
    sealed_ = false;
    done_.push_back(std::move(step));
    if (done_.size() > kLimit)
        done_.erase(done_.begin());
}

// Moves the newest step of one stack onto the other; nothing joins it afterwards.
const History::Step* History::move(std::vector<Step>& from, std::vector<Step>& to) {
    if (from.empty())
        return nullptr;
    to.push_back(std::move(from.back()));
    from.pop_back();
    sealed_ = true;
    return &to.back();
}

const History::Step* History::undo() {
    return move(done_, undone_);
}

const History::Step* History::redo() {
    return move(undone_, done_);
}

void History::clear() {
    done_.clear();
    undone_.clear();
    sealed_ = false;
}

void History::seal() {
    sealed_ = true;
}

// ---- step names ----

StepName nameOfChange(const Change& change) {
    ModeImage before{}, after{};
    change.applyTo(before, Change::Side::Before);
    change.applyTo(after, Change::Side::After);
    const std::vector<Difference> d = differences(before, after);
    if (d.empty())
        return {};
    const ParamInfo* p = d.front().param;
    bool oneName = true, oneField = true;
    int others = 0;
    for (const Difference& x : d) {
        oneName &= x.nameEn == d.front().nameEn;
        oneField &= x.id == d.front().id;
        if (x.nameEn != d.front().nameEn)
            ++others;
    }
    StepName n{d.front().nameZh, d.front().nameEn};
    if (oneName && oneField && p && !p->fieldEn.empty()) {
        n.zh += p->fieldZh;
        n.en += " " + p->fieldEn;
    }
    if (!oneName) {
        n.zh += "等" + std::to_string(others + 1) + "项";
        n.en += " and " + std::to_string(others) + " more";
    }
    return n;
}

// ---- sending differences ----

bool sendSettingsDifferences(Dsp& dsp, const ModeImage& held, int* sent) {
    ParameterStore& store = dsp.store();
    int count = 0;
    bool ok = true;
    auto differs = [&](int c) {
        return c >= 0 && c < kCellCount && held.cells[std::size_t(c)] != store.cellBits(c);
    };
    // The volumes go last, where the full download raises them.
    ok &= dsp.pushCells(0, [&](int c) {
        const bool d = c != cell::MicVolume && c != cell::MusicVolume && differs(c);
        count += d;
        return d;
    });
    // A delay mode change has sent its channel's split pair already: not again.
    std::vector<std::pair<int, int>> sentSplits;
    for (int c = 0; c < kDelayChannelCount; ++c) {
        const DelayChannelInfo& info = delayChannelInfo(DelayChannel(c));
        if (differs(info.modeCell)) {
            sentSplits.emplace_back(info.module, info.splitRecord);
            sentSplits.emplace_back(info.module, info.splitRecord + 1);
        }
    }
    const BandImage bands = store.bandImage();
    auto recordDiffers = [&](const EqGroup& g, int r) {
        const int offset = g.offset + int(kBandRecordSize) * r;
        return std::memcmp(&held.bandImage[std::size_t(offset)], &bands[std::size_t(offset)],
                           kBandRecordSize) != 0;
    };
    constexpr int kSubGroup = 8, kSubSectionRecords = 20;
    for (const EqGroup& g : eqGroups())
        for (int r = 0; r < g.records; ++r) {
            if (std::find(sentSplits.begin(), sentSplits.end(), std::pair{g.group, r}) !=
                sentSplits.end())
                continue;
            if (g.group == kSubGroup && r < kSubSectionRecords) {
                // A Sub band goes out with its three sections, as its page sends it.
                if (r % 4 != 0)
                    continue;
                bool any = false;
                for (int k = r; k < r + 4; ++k)
                    any |= recordDiffers(g, k);
                if (any)
                    for (int k = r; k < r + 4; ++k) {
                        ok &= dsp.sendBandRecord(g.group, k);
                        ++count;
                    }
                continue;
            }
            if (recordDiffers(g, r)) {
                ok &= dsp.sendBandRecord(g.group, r);
                ++count;
            }
        }
    bool plan = store.planBlock() != held.plan;
    for (int c = kPlanFirstCell; c <= kPlanLastCell; ++c)
        plan |= differs(c);
    if (plan) {
        ok &= dsp.sendPlanBlock();
        ++count;
    }
    const SpeakerLevelBlock levels = store.speakerLevelBlock();
    if (levels != held.speakerLevels) {
        ok &= dsp.sendSpeakerLevelBlock();
        ++count;
        for (int speaker = 1; speaker <= kSpeakerCount; ++speaker) {
            const SpeakerInfo& info = speakerInfo(speaker);
            const std::size_t at = std::size_t(info.slot) * 4;
            if (std::memcmp(&levels[at], &held.speakerLevels[at], 4) != 0) {
                ok &= dsp.writeWords(info.module, info.parameter,
                                     codec::speakerLevelRecord(store.speakerLevelSlot(info.slot)));
                ++count;
            }
        }
    }
    for (int c : {cell::MicVolume, cell::MusicVolume})
        if (differs(c)) {
            ok &= dsp.sendCell(c);
            ++count;
        }
    if (sent)
        *sent = count;
    return ok;
}

// ---- EditPath ----

EditPath::EditPath(ParameterStore& store, ReportSink& amplifier, Clock& clock,
                   std::function<bool()> linkOpen)
    : namer(nameOfChange), store_(store), router_(*this, amplifier, std::move(linkOpen)),
      dsp_(store, router_, clock), scopeStart_(settingsOf(store)) {}

int EditPath::Router::write(const Report& r) {
    // A report with no scope open is an edit nobody said: it still becomes a step.
    const bool unscoped = path_.depth_ == 0 && !path_.quietSends_;
    if (unscoped) {
        failed = false;
        offline = false;
    }
    int n = int(kReportSize);
    if (!linked()) {
        offline = true;
    } else {
        n = to_.write(r);
        if (n != int(kReportSize))
            failed = true;
    }
    if (unscoped) {
        path_.unscopedSent_ = true;
        path_.recordUnscoped();
        if (failed)
            path_.held_.reset();
    }
    return n;
}

void EditPath::recordUnscoped() {
    const ModeImage now = settingsOf(store_);
    Change change = Change::between(scopeStart_, now);
    scopeStart_ = now;
    if (change.empty())
        return;
    ++unscoped_;
#ifndef NDEBUG
    const StepName n = namer ? namer(change) : StepName{};
    std::fprintf(stderr, "q7edit: an edit outside any step: %s\n", n.en.c_str());
#endif
    commit(std::move(change), {});
}

EditPath::Hold::Hold(EditPath& path) : path_(path) {
    if (path_.holdDepth_++ == 0)
        ++path_.holds_;
}

EditPath::Hold::~Hold() {
    --path_.holdDepth_;
}

void EditPath::notifyState() {
    if (stateChanged)
        stateChanged();
}

EditPath::Scope::Scope(EditPath& path, StepName name) : path_(path), outer_(path.depth_++ == 0) {
    if (!outer_) {
        if (path_.scopeName_.empty())
            path_.scopeName_ = std::move(name); // a named operation names the input it ran in
        return;
    }
    if (path_.unscopedSent_) {
        path_.recordUnscoped(); // a sender that changed the store after its report went out
        path_.unscopedSent_ = false;
    }
    path_.scopeStart_ = settingsOf(path_.store_);
    path_.scopeName_ = std::move(name);
    path_.router_.failed = false;
    path_.router_.offline = !path_.router_.linked();
}

EditPath::Scope::~Scope() {
    // The step ends when the last open scope closes, whichever was opened first: a gesture's
    // scope may outlive the scope of the command that opened it.
    if (--path_.depth_ != 0)
        return;
    const ModeImage now = settingsOf(path_.store_);
    path_.commit(Change::between(path_.scopeStart_, now), path_.scopeName_);
    path_.scopeStart_ = now;
}

void EditPath::commit(Change change, const StepName& name) {
    if (change.empty())
        return;
    if (router_.offline) {
        held_.reset();
        unsent_ = true;
    } else if (router_.failed) {
        held_.reset();
    } else if (held_) {
        change.applyTo(*held_, Change::Side::After);
    }
    StepName n = name;
    if (n.empty() && namer)
        n = namer(change);
    activeHistory().record({std::move(n), std::move(change), holdDepth_ ? holds_ : 0});
    if (stepped)
        stepped();
    notifyState();
}

void EditPath::flush() {
    if (depth_ == 0) {
        if (unscopedSent_)
            recordUnscoped();
        unscopedSent_ = false;
        return;
    }
    const ModeImage now = settingsOf(store_);
    commit(Change::between(scopeStart_, now), scopeName_);
    scopeStart_ = now;
    scopeName_ = {};
    router_.failed = false;
    router_.offline = !router_.linked();
}

void EditPath::rebase() {
    unscopedSent_ = false;
    scopeStart_ = settingsOf(store_);
    if (depth_ > 0)
        scopeName_ = {};
}

bool EditPath::edit(const std::function<bool(Dsp&)>& f, const StepName& name) {
    Scope scope(*this, name);
    return f(dsp_);
}

void EditPath::editWithoutSending(const std::function<void(ParameterStore&)>& f,
                                  const StepName& name) {
    flush();
    const ModeImage before = settingsOf(store_);
    f(store_);
    Change change = Change::between(before, settingsOf(store_));
    rebase();
    held_.reset();
    unsent_ = true;
    activeHistory().seal();
    const bool recorded = !change.empty();
    if (recorded)
        activeHistory().record({name, std::move(change), 0});
    activeHistory().seal();
    if (recorded && stepped)
        stepped();
    notifyState();
}

StepName EditPath::undoName() const {
    const History::Step* s = history().nextUndo();
    return s ? s->name : StepName{};
}

StepName EditPath::redoName() const {
    const History::Step* s = history().nextRedo();
    return s ? s->name : StepName{};
}

EditPath::Sent EditPath::applyAndSend(const Change& change, Change::Side side) {
    change.applyTo(store_, side);
    return storeReplaced();
}

EditPath::Sent EditPath::storeReplaced() {
    rebase();
    if (changed)
        changed();
    const Sent s = sendDifferences();
    notifyState();
    return s;
}

EditPath::Sent EditPath::undo() {
    flush();
    const History::Step* s = activeHistory().undo();
    if (!s)
        return Sent::Nothing;
    return applyAndSend(s->change, Change::Side::Before);
}

EditPath::Sent EditPath::redo() {
    flush();
    const History::Step* s = activeHistory().redo();
    if (!s)
        return Sent::Nothing;
    return applyAndSend(s->change, Change::Side::After);
}

void EditPath::clearHistory() {
    rebase();
    activeHistory().clear();
    notifyState();
}

void EditPath::amplifierHoldsStore() {
    rebase(); // what was read is not an edit
    held_ = settingsOf(store_);
    unsent_ = false;
    notifyState();
}

void EditPath::forgetAmplifier() {
    held_.reset();
    notifyState();
}

EditPath::Sent EditPath::sendDifferences() {
    if (!router_.linked()) {
        held_.reset();
        unsent_ = true;
        return Sent::Offline;
    }
    if (!held_)
        return Sent::NeedsFullDownload;
    int count = 0;
    router_.failed = false;
    quietSends_ = true;
    const bool ok = sendSettingsDifferences(dsp_, *held_, &count) && !router_.failed;
    quietSends_ = false;
    if (ok)
        held_ = settingsOf(store_);
    else
        held_.reset();
    rebase(); // senders may have tidied the store (clamps): not an edit
    return count ? Sent::Differences : Sent::Nothing;
}

void EditPath::replaceSettings(const ModeImage& image) {
    flush();
    applySettings(store_, image);
    rebase();
    notifyState();
}

void EditPath::markSaved() {
    flush();
    saved_ = settingsOf(store_);
    notifyState();
}

bool EditPath::modified() const {
    if (!saved_)
        return history().canUndo();
    return !Change::between(*saved_, settingsOf(store_)).empty();
}

ModeImage EditPath::slotSettings(int slot) const {
    if (slot == active_ || !slots_[std::size_t(slot & 1)])
        return settingsOf(store_);
    return *slots_[std::size_t(slot & 1)];
}

EditPath::Sent EditPath::switchTo(int slot) {
    slot &= 1;
    if (slot == active_)
        return Sent::Nothing;
    flush();
    const ModeImage leaving = settingsOf(store_);
    const ModeImage arriving = slots_[std::size_t(slot)].value_or(leaving);
    slots_[std::size_t(active_)] = leaving;
    slots_[std::size_t(slot)].reset();
    active_ = slot;
    applySettings(store_, arriving);
    return storeReplaced();
}

EditPath::Sent EditPath::copySlot(int from, int to) {
    from &= 1;
    to &= 1;
    if (from == to)
        return Sent::Nothing;
    flush();
    const ModeImage source = slotSettings(from);
    const ModeImage target = slotSettings(to);
    Change change = Change::between(target, source);
    if (change.empty())
        return Sent::Nothing;
    const StepName name =
        from == 0 ? StepName{"复制 A→B", "Copy A→B"} : StepName{"复制 B→A", "Copy B→A"};
    History& h = history_[std::size_t(to)];
    h.seal();
    h.record({name, change, 0});
    h.seal();
    if (to != active_) {
        slots_[std::size_t(to)] = source;
        notifyState();
        return Sent::Nothing;
    }
    return applyAndSend(change, Change::Side::After);
}

} // namespace q7
