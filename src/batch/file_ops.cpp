// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "batch/name_template.h"
#include "util/paths.h"

namespace sondrel {

namespace {

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
    return out;
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return out;
}

std::string Reason(int error) {
    return std::strerror(error);
}

std::string StripTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == kPathSeparator)
        path.pop_back();
    return path;
}

std::string BaseName(const std::string& path) {
    const std::string clean = StripTrailingSeparators(path);
    const auto slash = clean.rfind(kPathSeparator);
    return slash == std::string::npos ? clean : clean.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind(kPathSeparator);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string(1, kPathSeparator) : path.substr(0, slash);
}

bool Exists(const std::string& path, struct stat* st = nullptr) {
    struct stat local {};
    return ::lstat(path.c_str(), st ? st : &local) == 0;
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// True when `inner` is `outer` or lies somewhere below it.
bool IsSameOrInside(const std::string& inner, const std::string& outer) {
    if (inner.empty() || outer.empty())
        return false;
    return inner == outer ||
           (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
            (outer.back() == kPathSeparator || inner[outer.size()] == kPathSeparator));
}

std::string JoinName(const std::string& folder, const std::string& name) {
    if (!name.empty() && name.front() == kPathSeparator)
        return name;
    return AddBackslash(folder) + name;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

std::string CopyBytes(int from, int to) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return "reading: " + Reason(errno);
        }
        if (got == 0)
            return {};
        ssize_t written = 0;
        while (written < got) {
            const ssize_t n =
                ::write(to, buffer.data() + written, static_cast<std::size_t>(got - written));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return "writing: " + Reason(errno);
            }
            written += n;
        }
    }
}

// Puts the finished temporary file under `destination`: never over an
// existing entry unless `replace`.
std::string PlaceFinished(const std::string& temporary, const std::string& destination,
                          bool replace) {
    if (replace)
        return ::rename(temporary.c_str(), destination.c_str()) == 0 ? std::string()
                                                                     : Reason(errno);
    const int error = RenameNoReplace(temporary, destination);
    if (error == EEXIST)
        return "File already exists";
    return error == 0 ? std::string() : Reason(error);
}

// A whole, flushed copy of a regular file or a symbolic link that appears
// under `destination` only once complete; the mode and times come along.
std::string CopyWhole(const std::string& source, const std::string& destination, bool replace) {
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0)
        return Reason(errno);
    const std::string folder = FolderOf(destination);
    std::string temporary = AddBackslash(folder) + ".sondrel-copy-XXXXXX";

    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1,
                           '\0');
        const ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
        if (n < 0)
            return Reason(errno);
        target.resize(static_cast<std::size_t>(n));
        // mkstemp reserves a unique name; the link takes its place.
        const int fd = ::mkstemp(temporary.data());
        if (fd < 0)
            return Reason(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        if (::symlink(target.c_str(), temporary.c_str()) != 0)
            return Reason(errno);
        const std::string placed = PlaceFinished(temporary, destination, replace);
        if (!placed.empty())
            ::unlink(temporary.c_str());
        return placed;
    }
    if (!S_ISREG(st.st_mode))
        return "not a regular file";

    Fd in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0)
        return Reason(errno);
    Fd out(::mkstemp(temporary.data()));
    if (out.get() < 0)
        return Reason(errno);
    auto fail = [&](std::string reason) {
        ::unlink(temporary.c_str());
        return reason;
    };
    std::string reason = CopyBytes(in.get(), out.get());
    if (!reason.empty())
        return fail(reason);
    ::fchmod(out.get(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    if (::fsync(out.get()) != 0)
        return fail("flushing: " + Reason(errno));
    struct stat written {};
    if (::fstat(out.get(), &written) != 0 || written.st_size != st.st_size)
        return fail("the copy is incomplete");
    reason = PlaceFinished(temporary, destination, replace);
    if (!reason.empty())
        return fail(reason);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return {};
}

class Transfer {
public:
    Transfer(TransferMode mode, const TransferCallbacks& callbacks)
        : mode_(mode), callbacks_(callbacks) {}

    TransferReport& Report() { return report_; }

    bool KeepGoing() {
        if (report_.stopped)
            return false;
        if (callbacks_.keepGoing && !callbacks_.keepGoing())
            report_.stopped = true;
        return !report_.stopped;
    }

    void Fail(const std::string& path, std::string reason) {
        report_.failures.push_back({path, std::move(reason)});
    }

    void Entry(const std::string& source, const std::string& targetFolder) {
        struct stat st {};
        if (IsDotEntry(source))
            return Fail(source,
                        "this entry stands for a folder you are in and is never copied or moved");
        if (::lstat(source.c_str(), &st) != 0)
            return Fail(source, Reason(errno));
        const std::string destination = JoinName(targetFolder, BaseName(source));
        if (S_ISDIR(st.st_mode)) {
            if (IsSameOrInside(RealPath(targetFolder), RealPath(source)))
                return Fail(source, "a folder cannot go into itself or one of its subfolders");
            Folder(source, destination);
        } else {
            File(source, destination);
        }
    }

private:
    // Whether to write over `destination`, which exists; false when skipped
    // or the run was cancelled.
    bool MayReplace(const std::string& destination) {
        if (replaceAll_)
            return true;
        const ConflictAnswer answer =
            callbacks_.askReplace ? callbacks_.askReplace(destination) : ConflictAnswer::Skip;
        switch (answer) {
            case ConflictAnswer::ReplaceAll:
                replaceAll_ = true;
                return true;
            case ConflictAnswer::Replace:
                return true;
            case ConflictAnswer::Cancel:
                report_.stopped = true;
                return false;
            case ConflictAnswer::Skip:
                break;
        }
        ++report_.filesSkipped;
        return false;
    }

    void File(const std::string& source, const std::string& destination) {
        if (!KeepGoing())
            return;
        struct stat existing {};
        bool replace = false;
        if (Exists(destination, &existing)) {
            if (SameFile(source, destination))
                return Fail(source, "the source and the destination are the same file");
            if (S_ISDIR(existing.st_mode))
                return Fail(source, "a folder of that name is in the way: " + destination);
            if (!MayReplace(destination))
                return;
            replace = true;
        }
        if (mode_ == TransferMode::Move) {
            int error = 0;
            if (replace)
                error = ::rename(source.c_str(), destination.c_str()) == 0 ? 0 : errno;
            else
                error = RenameNoReplace(source, destination);
            if (error == 0) {
                ++report_.filesDone;
                return;
            }
            if (error == EEXIST)
                return Fail(source, "File already exists");
            if (error != EXDEV)
                return Fail(source, Reason(error));
        }
        const std::string reason = CopyWhole(source, destination, replace);
        if (!reason.empty())
            return Fail(source, reason);
        if (mode_ == TransferMode::Move && ::unlink(source.c_str()) != 0)
            return Fail(source, "copied, but the original could not be removed: " + Reason(errno));
        ++report_.filesDone;
    }

    void Folder(const std::string& source, const std::string& destination) {
        if (!KeepGoing())
            return;
        struct stat existing {};
        const bool exists = Exists(destination, &existing);
        if (exists && !S_ISDIR(existing.st_mode))
            return Fail(source, "a file of that name is in the way: " + destination);
        if (mode_ == TransferMode::Move && !exists) {
            const int error = RenameNoReplace(source, destination);
            if (error == 0) {
                ++report_.filesDone;
                return;
            }
            if (error != EXDEV && error != EEXIST)
                return Fail(source, Reason(error));
        }
        if (!Exists(destination)) {
            struct stat st {};
            ::stat(source.c_str(), &st);
            if (::mkdir(destination.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0)
                return Fail(source, "the folder could not be created: " + Reason(errno));
        }
        std::vector<std::string> names;
        {
            struct CloseDir {
                void operator()(DIR* d) const { ::closedir(d); }
            };
            std::unique_ptr<DIR, CloseDir> dir(::opendir(source.c_str()));
            if (!dir)
                return Fail(source, Reason(errno));
            while (const dirent* entry = ::readdir(dir.get())) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..")
                    names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (!KeepGoing())
                return;
            const std::string from = AddBackslash(source) + name;
            const std::string to = AddBackslash(destination) + name;
            struct stat st {};
            if (::lstat(from.c_str(), &st) != 0) {
                Fail(from, Reason(errno));
                continue;
            }
            if (S_ISDIR(st.st_mode))
                Folder(from, to);
            else
                File(from, to);
        }
        if (mode_ == TransferMode::Move) {
            RemoveFolderTree(source);
            if (!report_.stopped && Exists(source) && report_.filesSkipped == 0 &&
                report_.failures.empty())
                Fail(source, "the folder was moved but still holds entries");
        }
    }

    TransferMode mode_;
    const TransferCallbacks& callbacks_;
    TransferReport report_;
    bool replaceAll_ = false;
};

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (from == to)
        return 0;
    // The same file under another spelling (a case change on a
    // case-insensitive file system): nothing can be lost. Two hard links of
    // one file are two entries, though: rename() would keep both.
    struct stat sf {};
    if (SameFile(from, to) && ::lstat(from.c_str(), &sf) == 0 && sf.st_nlink == 1)
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return error;
    // File systems without the no-replace flag: a hard link fails on an
    // existing name just as well.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0)
            return 0;
        const int unlinkError = errno;
        ::unlink(to.c_str());
        return unlinkError;
    }
    const int linkError = errno;
    if (linkError == EEXIST)
        return EEXIST;
    if (linkError != EPERM && linkError != ENOTSUP && linkError != EMLINK)
        return linkError;
    // No hard links either (FAT and the like): check, then rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string WithoutFirstAmpersand(std::string_view caption) {
    std::string out(caption);
    const auto amp = out.find('&');
    if (amp != std::string::npos)
        out.erase(amp, 1);
    return out;
}

std::string ProposeEntryName(std::string_view artist, std::string_view title, std::string_view ext,
                             std::string_view rowText, bool isFile) {
    if (!isFile)
        return std::string(rowText);
    auto withoutNuls = [](std::string_view s) {
        while (!s.empty() && s.back() == '\0')
            s.remove_suffix(1);
        return std::string(s);
    };
    std::string proposal = withoutNuls(artist);
    if (!proposal.empty())
        proposal += " - ";
    proposal += withoutNuls(title);
    const std::string upperExt = UpperAscii(ext);
    if (UpperAscii(proposal).find(upperExt) == std::string::npos)
        proposal += LowerAscii(ext);
    // Nothing but the extension: the tag had neither artist nor title.
    if (UpperAscii(proposal) == upperExt)
        proposal = std::string(rowText);
    return FixBadLetters(proposal, true);
}

bool IsDotEntry(std::string_view path) {
    const std::string name = BaseName(std::string(path));
    return name == "." || name == ".." || name.empty();
}

std::string RenameEntry(const std::string& folder, const std::string& from, const std::string& to) {
    if (IsDotEntry(from))
        return "this entry stands for a folder you are in and cannot be renamed";
    if (to.empty() || to == "." || to == "..")
        return "the new name is empty";
    if (to.find(kPathSeparator) != std::string::npos || to.find('\0') != std::string::npos)
        return std::string("a name cannot hold \"") + kPathSeparator + "\"";
    const std::string source = JoinName(folder, from);
    const std::string target = JoinName(folder, to);
    if (source == target)
        return {};
    if (Exists(target) &&
        !(SameFile(source, target) && from != to && UpperAscii(from) == UpperAscii(to)))
        return "File already exists";
    const int error = RenameNoReplace(source, target);
    if (error == EEXIST)
        return "File already exists";
    return error == 0 ? std::string() : Reason(error);
}

std::vector<EntryFailure> DeleteEntries(const std::vector<std::string>& paths, bool permanent,
                                        const TrashFunction& trash) {
    std::vector<EntryFailure> failures;
    for (const std::string& path : paths) {
        if (IsDotEntry(path)) {
            failures.push_back(
                {path, "this entry stands for a folder you are in and is never deleted"});
            continue;
        }
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            failures.push_back({path, Reason(errno)});
            continue;
        }
        if (!permanent) {
            std::string reason;
            if (!trash || !trash(path, reason))
                failures.push_back({path, reason.empty()
                                              ? std::string("it could not be moved to the trash")
                                              : reason});
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            RemoveFolderTree(path);
            if (Exists(path))
                failures.push_back({path, "the folder still holds files"});
        } else if (::unlink(path.c_str()) != 0) {
            failures.push_back({path, Reason(errno)});
        }
    }
    return failures;
}

TransferReport TransferEntries(const std::vector<std::string>& sources,
                               const std::string& targetFolder, TransferMode mode,
                               const TransferCallbacks& callbacks) {
    Transfer transfer(mode, callbacks);
    struct stat st {};
    if (::stat(targetFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        transfer.Fail(targetFolder, "the target folder does not exist");
        return std::move(transfer.Report());
    }
    for (const std::string& source : sources) {
        if (!transfer.KeepGoing())
            break;
        transfer.Entry(StripTrailingSeparators(source), targetFolder);
        if (callbacks.onEntryDone)
            callbacks.onEntryDone(source);
    }
    return std::move(transfer.Report());
}

bool RememberFolder(std::vector<std::string>& list, std::string_view folder) {
    const std::string wanted = AddBackslash(folder);
    if (folder.empty())
        return false;
    for (const std::string& known : list)
        if (WithoutFirstAmpersand(known) == wanted)
            return false;
    while (list.size() >= kRememberedFolders)
        list.erase(list.begin());
    list.push_back(wanted);
    return true;
}

int RowAfterDelete(int focused, const std::vector<int>& selected, int rowCountAfter) {
    std::vector<int> sorted = selected;
    std::sort(sorted.begin(), sorted.end());
    int next = std::max(focused, -1) + 1;
    for (auto it = std::lower_bound(sorted.begin(), sorted.end(), next);
         it != sorted.end() && *it <= next; ++it) {
        if (*it == next)
            ++next;
    }
    const int row = next - 1;
    return row >= 0 && row < rowCountAfter ? row : -1;
}

RowChoice RowAfterRename(int focused, int rowCountAfter) {
    const int next = focused + 1;
    if (next >= 0 && next < rowCountAfter)
        return {next, true};
    return {rowCountAfter - 1, false};
}

}  // namespace sondrel
