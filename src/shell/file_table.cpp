#include "shell/file_table.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>

namespace {

struct Scan {
    const ScanOptions& options;
    const PreviousSelection& previous;
    const ScanHooks& hooks;
    std::vector<FileEntry> entries;

    bool Stopped() const { return options.subfolders && hooks.keepGoing && !hooks.keepGoing(); }
};

// Which switch lists a file, by its lower-cased extension; -1 when none.
int SwitchOfExtension(const QString& lowerExt) {
    for (int i = 0; i < kFormatSwitchCount; ++i) {
        if (SwitchExtensions(static_cast<FormatSwitch>(i)).contains(lowerExt))
            return i;
    }
    return -1;
}

void Walk(Scan& scan, const QString& dir, int level) {
    const QString folder = WithTrailingSeparator(dir);
    if (scan.hooks.pumpEvents)
        scan.hooks.pumpEvents();
    const QByteArray native = QFile::encodeName(folder);
    DIR* d = ::opendir(native.constData());
    if (d == nullptr)
        return;

    QStringList subfolders;
    std::vector<std::pair<QString, QString>> files;  // name, upper-cased extension
    while (dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        // Hidden entries are not listed, like the system's hidden attribute.
        if (name[0] == '.')
            continue;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) {
            struct stat st {};
            if (::stat((native + name).constData(), &st) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        const QString qname = QFile::decodeName(name);
        if (type == DT_DIR) {
            subfolders << qname;
        } else if (type == DT_REG) {
            const qsizetype dot = qname.lastIndexOf(QLatin1Char('.'));
            if (dot <= 0)
                continue;
            const QString ext = qname.mid(dot + 1).toLower();
            const int sw = SwitchOfExtension(ext);
            if (sw < 0 || !scan.options.formats[static_cast<std::size_t>(sw)])
                continue;
            files.emplace_back(qname, QLatin1Char('.') + ext.toUpper());
        }
    }
    ::closedir(d);

    const bool selectedOnly =
        scan.options.subfolders && level == 1 && scan.options.onlySelectedSubfolders;
    for (const QString& sub : subfolders) {
        if (scan.Stopped())
            break;
        if (scan.options.subfolders) {
            if (selectedOnly && !scan.previous.selectedFolderCaptions.contains(sub))
                continue;
            Walk(scan, folder + sub, level + 1);
        } else if (scan.options.showDirs) {
            scan.entries.push_back({folder, QString(), QString(), sub});
        }
    }
    if (selectedOnly && !scan.previous.anyFileSelected)
        return;
    for (auto& [name, ext] : files) {
        if (scan.Stopped())
            break;
        scan.entries.push_back({folder, name, ext, name});
    }
}

}  // namespace

const QStringList& SwitchExtensions(FormatSwitch format) {
    static const QStringList table[kFormatSwitchCount] = {
        {QStringLiteral("mp3")},
        {QStringLiteral("ogg")},
        {QStringLiteral("wma")},
        {QStringLiteral("ape")},
        {QStringLiteral("m4a"), QStringLiteral("mp4"), QStringLiteral("aac")},
        {QStringLiteral("mpc")}};
    return table[static_cast<int>(format)];
}

QString WithTrailingSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

std::optional<std::vector<FileEntry>> ScanFolder(const QString& folder, const ScanOptions& options,
                                                 const PreviousSelection& previous,
                                                 const ScanHooks& hooks) {
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir() || !info.isExecutable() || !info.isReadable()) {
        return std::nullopt;
    }
    Scan scan{options, previous, hooks, {}};
    Walk(scan, folder, 1);

    std::vector<FileEntry> rows;
    rows.reserve(scan.entries.size() + 1);
    const QString canonical = QDir(folder).absolutePath();
    if (options.showDirs && !options.subfolders && !QDir(canonical).isRoot()) {
        rows.push_back({WithTrailingSeparator(folder), QString(), QString(), QStringLiteral("..")});
    }

    // Sort keys are computed once per entry: comparing through the collator
    // for every pair would dominate the scan of a large folder.
    // The user's collation; a bare C locale (no LANG) would sort by code
    // point, so fall back to English there. Keys are case-folded as well, so
    // the order ignores case even where the collator cannot.
    const QLocale locale =
        QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    struct Keyed {
        QCollatorSortKey key;
        std::size_t index;
    };
    auto byKey = [](const Keyed& a, const Keyed& b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.index < b.index;
    };
    // Files sort by folder, then by name; a folder's files are contiguous in
    // discovery order, so each folder's names are keyed and sorted on their
    // own, which costs far less than keying every full path.
    std::vector<Keyed> folderRows;
    std::vector<Keyed> fileFolders;  // one per folder that holds files: index of its first file
    for (std::size_t i = 0; i < scan.entries.size(); ++i) {
        const FileEntry& e = scan.entries[i];
        if (!e.IsFile()) {
            folderRows.push_back({collator.sortKey(e.Caption.toCaseFolded()), i});
        } else if (i == 0 || !scan.entries[i - 1].IsFile() ||
                   scan.entries[i - 1].Folder != e.Folder) {
            fileFolders.push_back(
                {collator.sortKey((e.Folder + QLatin1Char('/')).toCaseFolded()), i});
        }
    }
    std::sort(folderRows.begin(), folderRows.end(), byKey);
    std::sort(fileFolders.begin(), fileFolders.end(), byKey);
    for (const Keyed& k : folderRows)
        rows.push_back(std::move(scan.entries[k.index]));
    std::vector<Keyed> names;
    for (const Keyed& f : fileFolders) {
        names.clear();
        const QString folderOfGroup = scan.entries[f.index].Folder;
        for (std::size_t i = f.index; i < scan.entries.size() && scan.entries[i].IsFile() &&
                                      scan.entries[i].Folder == folderOfGroup;
             ++i) {
            names.push_back({collator.sortKey(scan.entries[i].FileName.toCaseFolded()), i});
        }
        std::sort(names.begin(), names.end(), byKey);
        for (const Keyed& k : names)
            rows.push_back(std::move(scan.entries[k.index]));
    }
    return rows;
}
