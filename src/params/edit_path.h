// SPDX-License-Identifier: GPL-3.0-or-later
// EditPath: the one way an edit of the user's settings happens. It applies the edit to the store,
// sends it, records it for undo, and tells the views. It also keeps a record of what the
// amplifier holds, so that undo, redo and A/B switches send only what differs, and it holds the
// two complete settings A and B.
//
// "Settings" are what a mode file holds (cells 26..172, the band image, the plan, the speaker
// levels and the extra block) plus the speaker plan cells 4..23 the plan block is made from.
// Everything here runs on the GUI thread; the store itself is safe to share with the read thread.
#pragma once

#include "params/dsp.h"
#include "params/store.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace q7 {

// Whether a cell belongs to the settings.
bool isSettingsCell(int cell);

// The settings of the store, as a mode image that also carries cells 4..23.
ModeImage settingsOf(const ParameterStore& store);
// Replaces the store's settings (cells 4..23 included) with the image's.
void applySettings(ParameterStore& store, const ModeImage& image);

// What one step changed: the values before and after of every cell, band record and block it
// touched.
struct Change {
    struct Cell {
        int index;
        std::uint32_t before, after;
    };
    struct Band {
        int group, record;
        BandRecord before, after;
    };
    template <class Block> struct Swap { Block before, after; };

    std::vector<Cell> cells;
    std::vector<Band> bands;
    std::optional<Swap<PlanBlock>> plan;
    std::optional<Swap<SpeakerLevelBlock>> speakerLevels;
    std::optional<Swap<ExtraBlock>> extra;

    static Change between(const ModeImage& before, const ModeImage& after);
    bool empty() const;
    // This change followed by a later one, as one change.
    void absorb(const Change& later);
    enum class Side { Before, After };
    void applyTo(ParameterStore& store, Side side) const;
    void applyTo(ModeImage& image, Side side) const;
};

// A step's name in both languages, e.g. "主输出均衡 第3段 增益" / "Main EQ band 3 gain".
struct StepName {
    std::string zh, en;
    bool empty() const { return zh.empty() && en.empty(); }
};

// Undo and redo stacks of one settings slot.
class History {
public:
    struct Step {
        StepName name;
        Change change;
        std::uint64_t mergeKey = 0; // the hold it was made in (EditPath::Hold), 0 for none

        // The merge rule: a later step made while the same hold is open joins this one, as a
        // drag's moves are one edit. Nothing else merges.
        bool mergesWith(const Step& later) const {
            return mergeKey != 0 && later.mergeKey == mergeKey;
        }
    };
    static constexpr std::size_t kLimit = 500;

    // Adds a step; one that the last step mergesWith joins it (unless sealed since).
    void record(Step step);
    bool canUndo() const { return !done_.empty(); }
    bool canRedo() const { return !undone_.empty(); }
    const Step* nextUndo() const { return done_.empty() ? nullptr : &done_.back(); }
    const Step* nextRedo() const { return undone_.empty() ? nullptr : &undone_.back(); }
    // Moves the step across and returns it; null when there is none.
    const Step* undo();
    const Step* redo();
    void clear();
    std::size_t size() const { return done_.size(); }
    // Closes the last step: nothing joins it any more.
    void seal();

private:
    std::vector<Step> done_;
    std::vector<Step> undone_;
    bool sealed_ = false;

    const Step* move(std::vector<Step>& from, std::vector<Step>& to);
};

class EditPath {
public:
    // amplifier: where reports go while linkOpen() holds; otherwise they go nowhere.
    EditPath(ParameterStore& store, ReportSink& amplifier, Clock& clock,
             std::function<bool()> linkOpen);
    EditPath(const EditPath&) = delete;
    EditPath& operator=(const EditPath&) = delete;

    ParameterStore& store() { return store_; }
    // The senders edits use: the amplifier's while connected, silent while not.
    Dsp& dsp() { return dsp_; }

    // ---- edits ----
    // Every edit runs in a scope opened where it happens (a control's handler, a command, a
    // timer's tick): what the store's settings change by while it is open is one step; scopes
    // opened while another is open join it, and the step ends when the last of them closes. The
    // step is named name (or after what it changed when empty). A change made outside any scope
    // is still recorded, as a step of its own, and counted.
    class Scope {
    public:
        explicit Scope(EditPath& path, StepName name = {});
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        EditPath& path_;
        bool outer_;
    };
    // Commits what the open scope changed so far as a step; the scope goes on from here.
    void flush();
    bool inScope() const { return depth_ > 0; }
    // Runs f in a scope with the senders; returns what f returns.
    bool edit(const std::function<bool(Dsp&)>& f, const StepName& name = {});
    // An edit that changes the store only; the caller sends it (a file or preset loaded, which
    // goes out as a full download). The record of the amplifier becomes uncertain.
    void editWithoutSending(const std::function<void(ParameterStore&)>& f, const StepName& name);

    // A held press, from its start to its end (a slider or panel dragged, a spin arrow held
    // down while it repeats): the steps made while it is open merge into one. Holds may nest;
    // the outermost decides. Controls say when a hold starts and ends; the page opens this.
    class Hold {
    public:
        explicit Hold(EditPath& path);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        EditPath& path_;
    };
    bool holding() const { return holdDepth_ > 0; }
    // Changes of the settings that reached the amplifier (or would have) with no scope open;
    // each became a step of its own. Zero while every edit says where it happens.
    int unscopedEdits() const { return unscoped_; }

    // ---- undo and redo (send the difference at once) ----
    bool canUndo() const { return history().canUndo(); }
    bool canRedo() const { return history().canRedo(); }
    StepName undoName() const;
    StepName redoName() const;
    enum class Sent { Nothing, Differences, NeedsFullDownload, Offline };
    Sent undo();
    Sent redo();
    const History& history() const { return history_[std::size_t(active_)]; }
    // A synchronisation starts a new history.
    void clearHistory();

    // ---- what the amplifier holds ----
    // After a synchronisation or a full download: the amplifier holds the store's settings.
    void amplifierHoldsStore();
    // A write was refused or lost, or the link broke: the next sending is a full download.
    void forgetAmplifier();
    bool amplifierKnown() const { return held_.has_value(); }
    // Puts settings in the store that are no edit (the editor's own, kept aside while an
    // amplifier's were read): nothing is recorded or sent.
    void replaceSettings(const ModeImage& image);
    // Sends what differs between the record and the store, in the full download's order.
    Sent sendDifferences();
    // Whether the store holds settings that were made while no amplifier was connected (or
    // loaded for a download that has not happened): connecting must not overwrite them unasked.
    bool holdsUnsent() const { return unsent_; }
    void setUnsent(bool v) { unsent_ = v; }

    // ---- the document (file) view ----
    // The settings as last saved or loaded; modified() compares the store with them.
    void markSaved();
    bool modified() const;

    // ---- A/B ----
    int activeSlot() const { return active_; }
    // Makes the slot active: the store takes its settings and only the difference is sent.
    Sent switchTo(int slot);
    // Copies one slot's settings over the other's (one undo step of the target).
    Sent copySlot(int from, int to);
    // The settings of a slot (the active one is the store's).
    ModeImage slotSettings(int slot) const;

    // ---- views ----
    // Called after undo, redo, a switch or a copy changed the store, so views show it again.
    std::function<void()> changed;
    // Called whenever the history or the record changes (menus, title, ribbon state).
    std::function<void()> stateChanged;
    // Called after a step was recorded, wherever it was made (a page, a dialog, a room tuning, a
    // remote phone): views that show the store must look at it again.
    std::function<void()> stepped;

    // Names a step after what it changed; set by the layer that knows the parameters' names.
    std::function<StepName(const Change&)> namer;

private:
    // Forwards to the amplifier while linked, swallows otherwise, and notes what went wrong.
    class Router final : public ReportSink {
    public:
        Router(EditPath& path, ReportSink& to, std::function<bool()> linked)
            : path_(path), to_(to), linked_(std::move(linked)) {}
        int write(const Report& r) override;
        bool linked() const { return linked_ && linked_(); }
        bool failed = false;  // a report was refused
        bool offline = false; // a report went nowhere

    private:
        EditPath& path_;
        ReportSink& to_;
        std::function<bool()> linked_;
    };

    ParameterStore& store_;
    Router router_;
    Dsp dsp_;
    int depth_ = 0;
    // The settings as of the last step (or the last change that was no edit); a scope's changes
    // are measured from here.
    ModeImage scopeStart_;
    StepName scopeName_;
    std::array<History, 2> history_;
    std::array<std::optional<ModeImage>, 2> slots_; // the inactive slot's settings
    int active_ = 0;
    std::optional<ModeImage> held_; // what the amplifier holds; none when uncertain
    std::optional<ModeImage> saved_;
    bool unsent_ = false;
    int holdDepth_ = 0;
    std::uint64_t holds_ = 0;   // holds opened so far: each one's merge key
    bool quietSends_ = false;   // sending what undo, a switch or a download changed: no edit
    bool unscopedSent_ = false; // something went out with no scope open since the last step
    int unscoped_ = 0;

    History& activeHistory() { return history_[std::size_t(active_)]; }
    void commit(Change change, const StepName& name);
    // What changes from here on is a new change (after undo, a switch, a read).
    void rebase();
    // Records what changed since the last step with no scope open, as a step of its own.
    void recordUnscoped();
    Sent applyAndSend(const Change& change, Change::Side side);
    // The store took settings that are no edit: views refresh, the difference goes out.
    Sent storeReplaced();
    void notifyState();
};

// A step's name after what it changed: "MAIN EQ band 3 gain", "Main L Delay", and "… and 2
// more" when it changed several things.
StepName nameOfChange(const Change& change);

// Sends, with the senders, what differs between held and the store: cells in the full push's
// order, then band records, the plan, the speaker levels and the master volumes. The extra
// block has no sender. Returns whether every report went out; sent counts the sends made.
bool sendSettingsDifferences(Dsp& dsp, const ModeImage& held, int* sent = nullptr);

} // namespace q7
