// SPDX-License-Identifier: GPL-3.0-or-later
// Saves of several files made durable together. While a group is given to
// saves (IoFaults::group), each rewrite writes its new bytes into its
// unnamed temporary file without a flush of its own, and each in-place
// change waits whole, and leaves the rest with the group. Commit then
// journals the in-place changes together (one flush), writes them, flushes
// every file at once, performs the pending renames in order, flushes each
// folder once and tells each file's outcome: a file counts as saved only
// after the flush that covered it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tags/file_io.h"

namespace sondrel {

struct RegionEdit;

class SaveGroup {
public:
    // How the new bytes are made durable: one syncfs per file system, or
    // one fdatasync per file issued from several threads at once, or
    // (Auto) syncfs for a file system holding more than kFewFiles of the
    // group's files and fdatasync for the others. A syncfs fails every
    // file it covered; an fdatasync only its own. Per-file flushes wait for
    // no other program's writes, so a few files flush that way; over many
    // files one syncfs is far cheaper.
    enum class Flush { FileSystem, Parallel, Auto };
    static constexpr std::size_t kFewFiles = 8;
    // A group commits by itself once this much waits, so progress and Stop
    // stay live and the temporaries' disk use stays bounded.
    struct Limits {
        std::size_t files = 64;
        std::int64_t bytes = std::int64_t{64} << 20;
    };
    // For a run no window waits on (the command-line tool, its batch
    // commands): fewer, larger commits, each file holding up to three
    // descriptors until its commit, within what the process may open.
    static Limits LargeRunLimits();

    SaveGroup();
    explicit SaveGroup(Limits limits, Flush flush = Flush::Auto);
    // Commits what is still pending; the outcomes go to their callbacks.
    ~SaveGroup();
    SaveGroup(const SaveGroup&) = delete;
    SaveGroup& operator=(const SaveGroup&) = delete;

    // What a save leaves with the group: `fd` holds the new bytes, `land`
    // runs once they are durable (a rename, say; returns an error text or
    // empty), `hold` keeps the save's locks and descriptors until then.
    struct Pending {
        std::string path;    // the file as the save named it
        std::string folder;  // flushed after `land`; empty when no name changes
        int fd = -1;
        std::int64_t bytes = 0;  // temporary space in use until the commit
        std::function<std::string()> land;
        std::shared_ptr<void> hold;
        // The save's step hook, asked before the flush (IoStep::Sync).
        std::function<bool(IoStep)> step;
        std::string key;  // which file it is (device and inode), filled in by Defer
        // An in-place change (tags/region_write) still to be journaled and
        // written on `fd`; a failed flush puts its old bytes back.
        std::shared_ptr<RegionEdit> edit;
    };
    void Defer(Pending pending);

    // `done` gets the outcome of `path` from the next commit: ok unless a
    // flush or a landing step of that file failed, in that commit or in an
    // earlier one no one had asked about it yet (a save's own later step
    // commits what its first step left). Outcomes go out in the
    // order they were asked for.
    void WhenCommitted(const std::string& path, std::function<void(const IoResult&)> done);

    // Whether a save has left `path` pending.
    bool Holds(const std::string& path) const;
    // Commits first when `path` is pending: a second read or save of a file
    // must start from what the first save left.
    void CommitIfHolds(const std::string& path) {
        if (Holds(path))
            Commit();
    }
    // Whether the pending saves reached the limits.
    bool Full() const;
    std::size_t PendingCount() const { return pending_.size(); }

    // The first save in a folder within this group clears the stale
    // temporaries there; later ones skip the walk.
    bool FirstVisit(const std::string& folder) { return visited_.insert(folder).second; }

    // Journal, write in place, flush, land, flush the folders, report.
    // Returns the failures, by path.
    std::map<std::string, std::string> Commit();
    // Every failure of every commit so far (a save may commit the group
    // itself, see CommitIfHolds), by path.
    const std::map<std::string, std::string>& Failures() const { return failed_; }

private:
    Limits limits_;
    Flush flush_;
    std::vector<Pending> pending_;
    std::int64_t bytes_ = 0;
    // By the key of the file, taken when asked: a rename changes what the
    // name stands for.
    std::vector<std::pair<std::string, std::function<void(const IoResult&)>>> waiting_;
    std::set<std::string> visited_;
    std::map<std::string, std::string> failed_;
    // Failures of files no one had asked about yet, by key.
    std::map<std::string, std::string> unclaimed_;
};

}  // namespace sondrel
