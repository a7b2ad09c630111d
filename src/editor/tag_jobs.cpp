// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/tag_jobs.h"

#include "editor/format_registry.h"

#include <deque>
#include <optional>

namespace sondrel {

namespace {

bool KeepGoing(const JobCallbacks& c) {
    return !c.keepGoing || c.keepGoing();
}

// A run's saves in one group on the bridge: outcomes held back until the
// commit that covers their files, then handed on in the order of the items.
class GroupedRun {
public:
    GroupedRun(TagBridge& bridge, const JobCallbacks& callbacks)
        : callbacks_(callbacks), group_(callbacks.group), inGroup_(bridge, group_) {}
    ~GroupedRun() { Settle(true); }
    GroupedRun(const GroupedRun&) = delete;
    GroupedRun& operator=(const GroupedRun&) = delete;

    // Before `path` is read: a file listed twice is read as the first save left it.
    void BeforeRead(const std::string& path) { group_.CommitIfHolds(path); }
    // A save or removal came back; a success counts once its commit holds.
    void Done(const JobItem& item, const SaveOutcome& outcome) {
        queue_.push_back({item, outcome});
        if (outcome.ok) {
            const std::size_t at = queue_.size() - 1 + delivered_;
            group_.WhenCommitted(item.path, [this, at](const IoResult& r) {
                Entry& e = queue_[at - delivered_];
                if (!r) {
                    e.outcome->ok = false;
                    e.outcome->error = r.error;
                }
            });
        }
        Settle(false);
    }
    // An item only stepped.
    void Passed(const JobItem& item) {
        queue_.push_back({item, std::nullopt});
        Settle(false);
    }
    int Succeeded() const { return succeeded_; }
    // Commits what waits and hands every outcome on.
    void Finish() { Settle(true); }

private:
    struct Entry {
        JobItem item;
        std::optional<SaveOutcome> outcome;  // none for an item only stepped
    };
    void Settle(bool now) {
        if (queue_.empty())
            return;
        // Nothing waiting for a flush: no reason to hold the outcomes back.
        if (!now && !group_.Full() && group_.PendingCount() > 0)
            return;
        // Only the commit itself goes to the runner, and only when it has
        // files to flush: the outcomes it fills in are handed on from here,
        // on the run's own thread.
        if (callbacks_.runCommit && group_.PendingCount() > 0)
            callbacks_.runCommit([this] { group_.Commit(); });
        else
            group_.Commit();
        while (!queue_.empty()) {
            Entry e = std::move(queue_.front());
            queue_.pop_front();
            ++delivered_;
            if (e.outcome) {
                succeeded_ += e.outcome->ok ? 1 : 0;
                if (callbacks_.onFileDone)
                    callbacks_.onFileDone(e.item, *e.outcome);
            }
            if (callbacks_.onStep)
                callbacks_.onStep(e.item);
        }
    }

    const JobCallbacks& callbacks_;
    SaveGroup group_;
    BridgeInGroup inGroup_;
    std::deque<Entry> queue_;
    std::size_t delivered_ = 0;
    int succeeded_ = 0;
};

}  // namespace

BridgeInGroup::BridgeInGroup(TagBridge& bridge, SaveGroup& group)
    : bridge_(bridge), before_(bridge.IoFaultsInUse()) {
    IoFaults io = before_;
    io.group = &group;
    bridge_.SetIoFaults(io);
}

BridgeInGroup::~BridgeInGroup() {
    bridge_.SetIoFaults(before_);
}

int SaveEditsToFiles(TagBridge& bridge, std::span<const JobItem> items, const FieldEdits& edits,
                     const JobCallbacks& callbacks) {
    GroupedRun run(bridge, callbacks);
    for (const JobItem& item : items) {
        // A file of no known format has nothing to save; it is only stepped.
        if (KeepGoing(callbacks) && item.isFile && FormatOfPath(item.path) != TagFormat::None) {
            // Each file's own values (and pictures) under the edits: the
            // fields the edits keep stay as this file has them.
            run.BeforeRead(item.path);
            bridge.Read(item.path);
            TagFields hub = bridge.Hub();
            ApplyEdits(hub, edits);
            bridge.setHub(hub);
            run.Done(item, bridge.Save(item.path));
        } else {
            run.Passed(item);
        }
    }
    run.Finish();
    return run.Succeeded();
}

bool RemoveApplies(RemoveKind kind, const std::string& path) {
    const FormatHandler* h = HandlerOfPath(path);
    return h && h->Removes(kind);
}

int RemoveTagsFromFiles(TagBridge& bridge, std::span<const JobItem> items, RemoveKind kind,
                        const JobCallbacks& callbacks) {
    GroupedRun run(bridge, callbacks);
    for (const JobItem& item : items) {
        if (!KeepGoing(callbacks))
            break;
        if (!item.isFile)
            continue;
        run.BeforeRead(item.path);
        if (RemoveApplies(kind, item.path))
            run.Done(item, bridge.Remove(item.path, kind));
        else
            run.Passed(item);
    }
    run.Finish();
    return run.Succeeded();
}

}  // namespace sondrel
