// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/save_group.h"

#include "tags/region_write.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

namespace sondrel {
namespace {

// The file a name stands for, whatever way it is spelt; one stat, not a
// walk of the path. Until its rename a pending file's name still stands for
// the old file, whose identity the pending save recorded.
std::string KeyOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return path;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string FlushError(int err) {
    return std::string("flush failed: ") + std::strerror(err);
}

// Asked like File::Sync asks: a refused step fails as the disk would.
bool FlushAllowed(const SaveGroup::Pending& p) {
    return !p.step || p.step(IoStep::Sync);
}

// More threads than this only queue up in the same journal commit.
constexpr std::size_t kFlushThreads = 8;

}  // namespace

SaveGroup::Limits SaveGroup::LargeRunLimits() {
    constexpr std::size_t kMost = 4096, kSpareDescriptors = 64, kPerFile = 3;
    Limits limits;
    limits.bytes = std::int64_t{256} << 20;
    struct rlimit r {};
    if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY) {
        const auto open = static_cast<std::size_t>(r.rlim_cur);
        const std::size_t fit =
            open > kSpareDescriptors ? (open - kSpareDescriptors) / kPerFile : 0;
        limits.files = std::clamp(fit, limits.files, kMost);
    } else {
        limits.files = kMost;
    }
    return limits;
}

SaveGroup::SaveGroup() : SaveGroup(Limits{}) {}

SaveGroup::SaveGroup(Limits limits, Flush flush) : limits_(limits), flush_(flush) {
    // What a killed save of another process left is settled before this
    // group reads or writes anything.
    RecoverJournals(JournalFolder());
}

SaveGroup::~SaveGroup() {
    if (!pending_.empty() || !waiting_.empty())
        Commit();
}

void SaveGroup::Defer(Pending pending) {
    pending.key = KeyOf(pending.path);
    bytes_ += pending.bytes;
    pending_.push_back(std::move(pending));
}

void SaveGroup::WhenCommitted(const std::string& path, std::function<void(const IoResult&)> done) {
    // Asked right after the save that left it: nothing renamed since.
    if (!pending_.empty() && pending_.back().path == path)
        waiting_.push_back({pending_.back().key, std::move(done)});
    else
        waiting_.push_back({KeyOf(path), std::move(done)});
}

bool SaveGroup::Holds(const std::string& path) const {
    if (pending_.empty())
        return false;
    const std::string key = KeyOf(path);
    return std::any_of(pending_.begin(), pending_.end(),
                       [&](const Pending& p) { return p.key == key; });
}

bool SaveGroup::Full() const {
    return pending_.size() >= limits_.files || bytes_ >= limits_.bytes;
}

std::map<std::string, std::string> SaveGroup::Commit() {
    std::vector<Pending> pending = std::move(pending_);
    pending_.clear();
    bytes_ = 0;
    auto waiting = std::move(waiting_);
    waiting_.clear();

    std::vector<std::string> flushed(pending.size());  // the error, empty when durable

    // 0. The in-place changes: all their old bytes in one journal, one
    // flush, before any of them is written.
    std::vector<RegionEdit*> edits;
    for (const Pending& p : pending) {
        if (p.edit)
            edits.push_back(p.edit.get());
    }
    std::unique_ptr<Journal> journal;
    std::vector<char> written(pending.size(), 0);    // in place, awaiting the flush
    std::vector<char> rewritten(pending.size(), 0);  // replaced whole, durable already
    bool keepJournal = false;  // a file may still be torn: recovery finishes it
    if (!edits.empty()) {
        std::string error;
        journal = Journal::Write(edits, error);
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (!pending[i].edit)
                continue;
            if (!journal) {
                // Nothing is written yet: without a journal each file is
                // rewritten whole instead, as a save without a journal
                // folder would be.
                rewritten[i] = 1;
                flushed[i] = pending[i].edit->Rewrite();
                if (!flushed[i].empty())
                    flushed[i] += " (rewriting it, as " + error + ")";
                continue;
            }
            flushed[i] = pending[i].edit->Apply();
            written[i] = flushed[i].empty();
            keepJournal = keepJournal || pending[i].edit->undoFailed;
        }
    }

    // 1. The new bytes of every file, durable before any name changes:
    // one syncfs per file system where it covers many, fdatasync for the
    // rest.
    std::map<dev_t, std::vector<std::size_t>> byDevice;
    if (flush_ != Flush::Parallel) {
        // Where the new bytes are, which the syncfs must cover; a file whose
        // file system is unknown is flushed on its own.
        for (std::size_t i = 0; i < pending.size(); ++i) {
            struct stat st {};
            if (flushed[i].empty() && !rewritten[i] && ::fstat(pending[i].fd, &st) == 0)
                byDevice[st.st_dev].push_back(i);
        }
        if (flush_ == Flush::Auto)
            std::erase_if(byDevice, [](const auto& d) { return d.second.size() <= kFewFiles; });
    }
    std::vector<char> coveredBySyncfs(pending.size(), 0);
    for (const auto& [device, members] : byDevice) {
        int err = 0;
        if (!std::all_of(members.begin(), members.end(),
                         [&](std::size_t i) { return FlushAllowed(pending[i]); }))
            err = EIO;
        else if (::syncfs(pending[members.front()].fd) != 0)
            err = errno;
        // One flush covered them all, so its failure is each one's.
        for (const std::size_t i : members) {
            coveredBySyncfs[i] = 1;
            if (err != 0)
                flushed[i] = FlushError(err);
        }
    }
    {
        std::atomic<std::size_t> next{0};
        auto worker = [&] {
            for (std::size_t i = next++; i < pending.size(); i = next++) {
                if (!flushed[i].empty() || coveredBySyncfs[i] || rewritten[i])
                    continue;
                if (!FlushAllowed(pending[i]))
                    flushed[i] = FlushError(EIO);
                else if (::fdatasync(pending[i].fd) != 0)
                    flushed[i] = FlushError(errno);
            }
        };
        std::vector<std::thread> threads;
        const std::size_t left =
            pending.size() -
            static_cast<std::size_t>(std::count(coveredBySyncfs.begin(), coveredBySyncfs.end(), 1));
        const std::size_t count = std::min(kFlushThreads, left);
        for (std::size_t t = 1; t < count; ++t)
            threads.emplace_back(worker);
        worker();
        for (auto& t : threads)
            t.join();
    }

    // 2. The renames, in the order the saves came; a file whose bytes are
    // not durable keeps its old content and name.
    std::map<std::string, std::string> failures;
    std::map<std::string, std::string> byKey;
    std::set<std::string> folders;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        Pending& p = pending[i];
        std::string error = flushed[i];
        if (written[i] && !error.empty()) {
            // Written but not durable: the old bytes go back, so the file is
            // wholly old as its failure says. If even that fails, the
            // journal stays for the next recovery to finish.
            if (!p.edit->Undo()) {
                error += " (the old bytes could not be put back yet)";
                keepJournal = true;
            } else {
                NoteFileRead(p.fd, p.path);  // as read again
            }
        }
        if (error.empty() && p.land)
            error = p.land();
        if (error.empty() && p.edit && !rewritten[i])
            NoteFileRead(p.fd, p.path);  // our own change (a rewrite noted its own)
        if (!error.empty()) {
            failures.emplace(p.path, error);
            failed_.emplace(p.path, error);
            byKey.emplace(p.key, error);
        } else if (!p.folder.empty()) {
            folders.insert(p.folder);
        }
    }

    // 3. Each folder once, so the renames themselves are durable.
    for (const std::string& folder : folders) {
        const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
    }
    if (journal)
        journal->Finish(keepJournal);
    // Locks and unnamed temporaries go only now.
    pending.clear();

    // A commit a save set off itself (its next step on a file still
    // waiting) runs before that save asks for its outcome: the failure is
    // kept for the next to ask about that file.
    for (const auto& failed : byKey) {
        if (std::none_of(waiting.begin(), waiting.end(),
                         [&failed](const auto& w) { return w.first == failed.first; }))
            unclaimed_.insert_or_assign(failed.first, failed.second);
    }
    for (auto& [key, done] : waiting) {
        if (const auto it = byKey.find(key); it != byKey.end()) {
            done(IoResult{false, it->second});
        } else if (const auto old = unclaimed_.find(key); old != unclaimed_.end()) {
            done(IoResult{false, old->second});
            unclaimed_.erase(old);
        } else {
            done(IoResult{true, {}});
        }
    }
    return failures;
}

}  // namespace sondrel
