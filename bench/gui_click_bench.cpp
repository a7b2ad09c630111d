// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's speed as a user meets it, offscreen: a folder of COUNT
// small tagged MP3s (default 10000, each with a small picture); CLICKS mouse
// clicks on rows spread over the list (default 200), each timed from the
// press until the tag editor's boxes hold that file's title, then until the
// events the click left behind are handled; the same for the Down key; then
// a several-file save of SAVE files (default 1000) from the editor's Save
// button, with a timer ticking every 2 ms that notes the longest time the
// window went without handling events and how the progress bar advanced.
// Not a test. Usage: gui_click_bench [COUNT] [CLICKS] [SAVE]
// (scripts/build.sh release gui_click_bench; build/release/bench/gui_click_bench)
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QListView>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "media/lyrics_window.h"
#include "media/pictures_window.h"
#include "shell/about_window.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/main_window.h"
#include "shell/media_link.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"
#include "shell/tag_editor.h"

namespace {

using Bytes = std::vector<char>;

void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

void BigEndian(Bytes& b, std::uint32_t n, int bitsPerByte) {
    const std::uint32_t mask = (1u << bitsPerByte) - 1;
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<char>((n >> (i * bitsPerByte)) & mask));
}

Bytes Frame(const std::string& id, const Bytes& body) {
    Bytes f;
    Append(f, id);
    BigEndian(f, static_cast<std::uint32_t>(body.size()), 8);
    f.push_back(0);
    f.push_back(0);
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

Bytes Text(const std::string& id, const std::string& text) {
    Bytes body{0};  // ISO-8859-1
    Append(body, text);
    return Frame(id, body);
}

Bytes Picture(const QByteArray& png) {
    Bytes body{0};
    Append(body, "image/png");
    body.push_back(0);
    body.push_back(3);  // front cover
    Append(body, "cover");
    body.push_back(0);
    body.insert(body.end(), png.begin(), png.end());
    return Frame("APIC", body);
}

std::string Title(int i) {
    return "Title " + std::to_string(i);
}

// ID3v2.3 with the usual fields and a picture, then eight silent MPEG-1
// Layer III frames (128 kbit/s, 44.1 kHz: 417 bytes each).
Bytes Mp3(int i, const QByteArray& png) {
    Bytes frames;
    for (const Bytes& f :
         {Text("TIT2", Title(i)), Text("TPE1", "Artist " + std::to_string(i % 97)),
          Text("TALB", "Album " + std::to_string(i / 12)), Text("TRCK", std::to_string(i % 12 + 1)),
          Text("TYER", "1999"), Text("TCON", "(17)"), Picture(png)})
        frames.insert(frames.end(), f.begin(), f.end());
    Bytes file;
    Append(file, "ID3");
    file.push_back(3);
    file.push_back(0);
    file.push_back(0);
    BigEndian(file, static_cast<std::uint32_t>(frames.size()), 7);
    file.insert(file.end(), frames.begin(), frames.end());
    for (int f = 0; f < 8; ++f) {
        Append(file, std::string("\xFF\xFB\x90\x64", 4));
        file.insert(file.end(), 413, 0);
    }
    return file;
}

QByteArray SmallPng() {
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(QColor(0x2b, 0x4f, 0x81));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

struct Timing {
    std::vector<double> shown;    // ms until the boxes held the file's title
    std::vector<double> settled;  // ms until the events behind it were handled too
    int reads = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Worst(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

void Report(const char* what, const Timing& t) {
    const auto n = static_cast<double>(t.shown.size());
    std::printf(
        "%-34s %4zu: fields shown median %6.2f ms, worst %6.2f ms; settled median %6.2f ms, "
        "worst %6.2f ms; %.2f reads each (goal: under 16 ms, one read)\n",
        what, t.shown.size(), Median(t.shown), Worst(t.shown), Median(t.settled), Worst(t.settled),
        n > 0 ? t.reads / n : 0.0);
}

// Waits for the title box to show `title`; false after two seconds.
bool WaitForTitle(TagEditor* editor, const QString& title) {
    QElapsedTimer limit;
    limit.start();
    while (editor->edTitle()->currentText() != title) {
        if (limit.elapsed() > 2000)
            return false;
        QApplication::processEvents();
    }
    return true;
}

// Runs `act` (a click or a key) and times it; the expected title is row `row`'s.
bool TimeOne(Timing& timing, TagEditor* editor, const QString& title,
             const std::function<void()>& act) {
    const int readsBefore = editor->ShownReads();
    QElapsedTimer clock;
    clock.start();
    act();
    if (!WaitForTitle(editor, title)) {
        std::fprintf(stderr, "the editor never showed %s\n", qPrintable(title));
        return false;
    }
    timing.shown.push_back(clock.nsecsElapsed() / 1e6);
    QApplication::processEvents();
    timing.settled.push_back(clock.nsecsElapsed() / 1e6);
    timing.reads += editor->ShownReads() - readsBefore;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int clicks = argc > 2 ? std::atoi(argv[2]) : 200;
    const int saveCount = std::min(argc > 3 ? std::atoi(argv[3]) : 1000, count);

    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("music"));
    QDir().mkpath(folder);
    const QByteArray png = SmallPng();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.mp3", i);
        const Bytes data = Mp3(i, png);
        std::ofstream(folder.toStdString() + name, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(data.size()));
    }

    SettingsStore store(work.filePath(QStringLiteral("settings.ini")));
    store.WriteString(QStringLiteral("StartDir"), folder);
    MainWindow main(store);
    ProgressWindow wait(&main);
    InfoWindow info(&main);
    OptionsWindow options(store, &main);
    AboutWindow about(&main);
    main.setCompanions(&wait, &info, &options, &about);
    MediaLink media(main.fileList(), main.tagEditor(), &wait, &store);
    LyricsWindow lyrics(&media, nullptr, &main);
    PicturesWindow pictures(&media, nullptr, &main);
    main.setMediaWindows(&lyrics, &pictures);
    options.LoadSettings();
    main.ProcessSettings();
    main.resize(900, 700);
    main.show();
    QApplication::processEvents();

    FileList* list = main.fileList();
    TagEditor* editor = main.tagEditor();
    QListView* view = list->lbFile();
    const FileTableModel& table = list->FileTable();
    std::vector<int> fileRows;
    for (int r = 0; r < table.rowCount(); ++r) {
        if (table.at(r).IsFile())
            fileRows.push_back(r);
    }
    if (static_cast<int>(fileRows.size()) != count) {
        std::fprintf(stderr, "the list shows %zu files of %d\n", fileRows.size(), count);
        return 1;
    }
    auto titleOf = [&](int row) {
        return QString::fromStdString(Title(table.at(row).Caption.left(5).toInt()));
    };
    auto clickRows = [&](const char* what) {
        Timing timing;
        for (int i = 0; i < clicks; ++i) {
            // Rows spread over the list, each away from the one before.
            const int row =
                fileRows[static_cast<std::size_t>((static_cast<long long>(i) * 7919 + 13) % count)];
            const QModelIndex index = table.index(row);
            view->scrollTo(index);
            QApplication::processEvents();
            const QPoint at = view->visualRect(index).center();
            if (!TimeOne(timing, editor, titleOf(row),
                         [&] { QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at); }))
                return false;
        }
        Report(what, timing);
        return true;
    };
    auto keyDown = [&](const char* what) {
        Timing timing;
        view->setFocus();
        for (int i = 0; i < clicks && list->FocusedRow() + 1 < table.rowCount(); ++i) {
            const int next = list->FocusedRow() + 1;
            if (!TimeOne(timing, editor, titleOf(next),
                         [&] { QTest::keyClick(view, Qt::Key_Down); }))
                return false;
        }
        Report(what, timing);
        return true;
    };

    if (!clickRows("click, companion windows hidden"))
        return 1;
    if (!keyDown("Down key, companion windows hidden"))
        return 1;
    info.show();
    pictures.show();
    lyrics.show();
    QApplication::processEvents();
    if (!clickRows("click, info/pictures/lyrics shown"))
        return 1;
    info.hide();
    pictures.hide();
    lyrics.hide();
    if (saveCount <= 0)
        return 0;

    // Several-file save: the first SAVE files selected, one box changed.
    QItemSelection first;
    first.select(table.index(fileRows.front()), table.index(fileRows[saveCount - 1]));
    view->selectionModel()->setCurrentIndex(table.index(fileRows.front()),
                                            QItemSelectionModel::NoUpdate);
    view->selectionModel()->select(first, QItemSelectionModel::ClearAndSelect);
    QApplication::processEvents();
    if (list->SelectedCount() != saveCount) {
        std::fprintf(stderr, "%d files selected, not %d\n", list->SelectedCount(), saveCount);
        return 1;
    }
    editor->edArtist()->setCurrentIndex(-1);
    editor->edArtist()->setEditText(QStringLiteral("Saved by the bench"));

    QElapsedTimer clock;
    double lastTick = 0, firstProgress = -1;
    int lastValue = 0, progressChanges = 0;
    struct Gap {
        double ms, at;
        int bar;
    };
    std::vector<Gap> gaps;
    std::vector<double> barMoves;  // when the bar moved
    QProgressBar* bar = wait.findChild<QProgressBar*>();
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        const int value = bar ? bar->value() : 0;
        gaps.push_back({now - lastTick, now, value});
        if (value != lastValue) {
            ++progressChanges;
            barMoves.push_back(now);
            if (firstProgress < 0)
                firstProgress = now;
        }
        lastTick = now;
        lastValue = value;
    });
    ticker.start();
    clock.start();
    editor->btnSaveClick();
    const double total = clock.nsecsElapsed() / 1e6;
    ticker.stop();
    gaps.push_back({total - lastTick, total, bar ? bar->value() : 0});
    std::sort(gaps.begin(), gaps.end(), [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
    std::printf(
        "several-file save of %d files from the window: %.0f ms; progress first moved after "
        "%.1f ms and moved %d times; longest time without events %.1f ms (goal under 100 ms)\n",
        saveCount, total, firstProgress, progressChanges, gaps.empty() ? 0.0 : gaps.front().ms);
    // Steps come a save group at a time, after the group's commit: a gap
    // the bar leaves a few milliseconds later held a commit; one far from
    // the next move fell between two files.
    for (std::size_t i = 0; i < gaps.size() && i < 8; ++i) {
        const auto next = std::lower_bound(barMoves.begin(), barMoves.end(), gaps[i].at);
        std::printf("  gap %6.1f ms ending at %6.0f ms, bar at %d, moving %.1f ms later\n",
                    gaps[i].ms, gaps[i].at, gaps[i].bar,
                    next == barMoves.end() ? -1.0 : *next - gaps[i].at);
    }
    return 0;
}
