// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/batch_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSizePolicy>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <set>

#include "shell/batch_lookup_tabs.h"
#include "shell/batch_table_model.h"
#include "shell/progress.h"
#include "shell/recycle_bin.h"
#include "shell/settings_store.h"
#include "util/paths.h"

// The export layout has a member named like Qt's "slots" keyword; this file
// declares no Qt slots, so the keyword goes before the core headers.
#undef slots
#include "batch/batch_actions.h"
#include "batch/export.h"
#include "batch/name_template.h"
#include "batch/workbook.h"
#include "shell/language_apply.h"

using namespace sondrel;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QString& s) {
    return s.toStdString();
}

constexpr int kDefaultColumnWidths[kColumnCount] = {20, 100, 100, 50, 50, 50, 50,
                                                    50, 50,  50,  50, 50, 50, 50};

const char* const kPageNames[] = {"tsRename", "tsGenerate", "tsFreeDB",
                                  "tsAmazon", "tsExport",   "tsMusicBrainz"};

// The message of a spreadsheet hand-over that failed.

// The visible columns in display order, with the table's captions.
constexpr const char* kFieldMimeType = "application/x-sondrel-field";

// The fields list: an item dragged away carries its field's placeholder,
// which the template and expression boxes append.
class FieldList : public QListWidget {
public:
    FieldList(const FormatSlots& slots, QWidget* parent) : QListWidget(parent), slots_(slots) {}

protected:
    QStringList mimeTypes() const override { return {QString::fromLatin1(kFieldMimeType)}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
        if (items.isEmpty())
            return nullptr;
        const std::string placeholder = FieldPlaceholder(SlotAtListPos(slots_, row(items[0])));
        if (placeholder.empty())
            return nullptr;
        auto* mime = new QMimeData;
        mime->setData(QString::fromLatin1(kFieldMimeType), QByteArray::fromStdString(placeholder));
        return mime;
    }

private:
    const FormatSlots& slots_;
};

ExportLayout LayoutOf(const FormatSlots& slots, const BatchTableModel& model) {
    ExportLayout layout;
    layout.slots = VisibleSlotsInOrder(slots);
    for (int i = 0; i < kOptionalColumnCount; ++i) {
        layout.captions[static_cast<std::size_t>(i)] = S(
            model.headerData(i + kFirstOptionalColumn, Qt::Horizontal, Qt::DisplayRole).toString());
    }
    return layout;
}

}  // namespace

BatchWindow::BatchWindow(SettingsStore& store, BatchHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), host_(std::move(host)) {
    setObjectName(QStringLiteral("fmRename"));
    setWindowTitle(tr("Rename files/Generate tags"));
    toTrash = [](const std::string& path, std::string& error) {
        if (shell::DeleteToRecycleBin(path))
            return true;
        error = "the desktop's trash did not take it";
        return false;
    };
    openExternal = [](const QString& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    showError = [this](const QString& message) {
        QMessageBox::critical(this, windowTitle(), message, QMessageBox::Ok);
    };
    askSaveName = [this](const QString& filters, int filterIndex) {
        const QStringList list = filters.split(QStringLiteral(";;"));
        QString selected = list.value(filterIndex - 1);
        return QFileDialog::getSaveFileName(this, tr("Export"),
                                            host_.shownFolder ? host_.shownFolder() : QString(),
                                            filters, &selected);
    };
    askStartNumber = [this]() {
        bool ok = false;
        const QString start =
            QInputDialog::getText(this, tr("Automatic numbering"), tr("Start number:"),
                                  QLineEdit::Normal, QStringLiteral("1"), &ok);
        return ok ? start : QString();
    };
    captions_ = {tr("&Rename files"), tr("&Generate tags"), tr("&Get data"),
                 tr("&Get data"),     tr("&Export"),        tr("&Write tags")};
    hints_ = {tr("Rename the checked files by the template"),
              tr("Write the values read from the file names into the checked files"),
              tr("Get the album's data from FreeDB"),
              tr("Get the tags from Amazon"),
              tr("Export the list or write a playlist"),
              tr("Write the MusicBrainz values shown into the checked files")};
    BuildUi();
    ReadSettings();
    PageChanged(pages_->currentIndex());
}

BatchWindow::~BatchWindow() {
    WriteSettings();
}

void BatchWindow::BuildUi() {
    model_ = new BatchTableModel(this);
    auto* layout = new QVBoxLayout(this);

    // Template box, its buttons, capitalization and the fields list.
    auto* top = new QHBoxLayout;
    auto* left = new QGridLayout;
    cbFormat_ = new QComboBox(this);
    cbFormat_->setObjectName(QStringLiteral("cbFormat"));
    cbFormat_->setEditable(true);
    cbFormat_->setInsertPolicy(QComboBox::NoInsert);
    cbFormat_->setMinimumWidth(220);
    cbFormat_->lineEdit()->installEventFilter(this);
    auto* btnPlus = new QToolButton(this);
    btnPlus->setObjectName(QStringLiteral("btnPlus"));
    btnPlus->setText(QStringLiteral("+"));
    btnPlus->setToolTip(tr("Add current string to format"));
    auto* btnMinus = new QToolButton(this);
    btnMinus->setObjectName(QStringLiteral("btnMinus"));
    btnMinus->setText(QStringLiteral("\u2212"));
    btnMinus->setToolTip(tr("Delete current string from format"));
    left->addWidget(new QLabel(tr("Format"), this), 0, 0);
    left->addWidget(cbFormat_, 0, 1);
    left->addWidget(btnPlus, 0, 2);
    left->addWidget(btnMinus, 0, 3);
    cbCapitalization_ = new QComboBox(this);
    cbCapitalization_->setObjectName(QStringLiteral("cbCapitalization"));
    cbCapitalization_->addItems({tr("Unchanged"), tr("lower case"), tr("UPPER CASE"),
                                 tr("Only First Up"), tr("First word")});
    left->addWidget(new QLabel(tr("Capitalization"), this), 1, 0);
    left->addWidget(cbCapitalization_, 1, 1);
    // Laid out but not shown: it stays on its first item.
    cbTranslit_ = new QComboBox(this);
    cbTranslit_->setObjectName(QStringLiteral("cbTranslit"));
    cbTranslit_->addItems({QStringLiteral("Без транслитерации"), QStringLiteral("Transliteraciya"),
                           QStringLiteral("Детранслитерация")});
    cbTranslit_->setVisible(false);
    left->addWidget(cbTranslit_, 2, 1);
    cbAutoPreview_ = new QCheckBox(tr("&Auto Preview"), this);
    cbAutoPreview_->setObjectName(QStringLiteral("cbAutoPreview"));
    cbAutoPreview_->setVisible(false);
    left->setRowStretch(3, 1);
    top->addLayout(left, 1);

    auto* fields = new QHBoxLayout;
    lbFormats_ = new FieldList(slots_, this);
    lbFormats_->setObjectName(QStringLiteral("lbFormats"));
    lbFormats_->setDragEnabled(true);
    lbFormats_->setDragDropMode(QAbstractItemView::DragOnly);
    lbFormats_->setMaximumHeight(120);
    auto* order = new QVBoxLayout;
    auto* btnUp = new QToolButton(this);
    btnUp->setObjectName(QStringLiteral("btnUP"));
    btnUp->setArrowType(Qt::UpArrow);
    auto* btnDown = new QToolButton(this);
    btnDown->setObjectName(QStringLiteral("btnDown"));
    btnDown->setArrowType(Qt::DownArrow);
    order->addWidget(btnUp);
    order->addWidget(btnDown);
    order->addStretch();
    fields->addWidget(lbFormats_);
    fields->addLayout(order);
    top->addLayout(fields);
    layout->addLayout(top);

    // The tabs.
    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("pcRename"));
    const QString pageTitles[] = {tr("&Tags to filenames"),   tr("&Filenames to tags"),
                                  tr("Get data from FreeDB"), tr("Tags from Amazon"),
                                  tr("Playlists and Export"), tr("Tags from MusicBrainz")};
    for (int p = 0; p < kPageCount; ++p) {
        auto* page = new QWidget(pages_);
        page->setObjectName(QString::fromLatin1(kPageNames[p]));
        pages_->addTab(page, pageTitles[p]);
    }
    {
        auto* g = new QGridLayout(pages_->widget(kPageRename));
        cbReplace_ = new QComboBox(this);
        cbReplace_->setObjectName(QStringLiteral("cbReplace"));
        cbReplace_->addItems({tr("Don't replace"), tr("Replace spaces by _"),
                              tr("Replace _ by spaces"), tr("Delete spaces")});
        cbBad_ = new QCheckBox(tr("&Delete bad letters"), this);
        cbBad_->setObjectName(QStringLiteral("cbBad"));
        cbRemoveExtraSpaces_ = new QCheckBox(tr("&Remove extra spaces"), this);
        cbRemoveExtraSpaces_->setObjectName(QStringLiteral("cbRemoveExtraSpaces"));
        g->addWidget(new QLabel(tr("Replacing letters"), this), 0, 0);
        g->addWidget(cbReplace_, 0, 1);
        g->addWidget(cbBad_, 1, 0, 1, 2);
        g->addWidget(cbRemoveExtraSpaces_, 2, 0, 1, 2);
        g->setColumnStretch(2, 1);
    }
    {
        auto* g = new QGridLayout(pages_->widget(kPageGenerate));
        const char* const names[] = {"Track", "Title", "Artist", "Album", "Year", "Comment"};
        const GenerateOptions defaults;
        for (std::size_t f = 0; f < kParseFieldCount; ++f) {
            auto* box = new QCheckBox(tr(names[f]), this);
            box->setObjectName(QStringLiteral("cb") + QString::fromLatin1(names[f]));
            box->setChecked(true);
            box->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(box, &QCheckBox::customContextMenuRequested, this,
                    [this, box](const QPoint& p) {
                        QMenu menu;
                        menu.addAction(tr("Set All"), this, [this] {
                            for (QCheckBox* b : fieldBoxes_)
                                b->setChecked(true);
                        });
                        menu.addAction(tr("Clear All"), this, [this] {
                            for (QCheckBox* b : fieldBoxes_)
                                b->setChecked(false);
                        });
                        menu.exec(box->mapToGlobal(p));
                    });
            connect(box, &QCheckBox::clicked, this, &BatchWindow::AutoPreview);
            auto* edit = new QLineEdit(Q(defaults.fields[f].expression), this);
            edit->setObjectName(QStringLiteral("ed") + QString::fromLatin1(names[f]));
            connect(edit, &QLineEdit::textChanged, this, &BatchWindow::AutoPreview);
            edit->installEventFilter(this);
            const int r = static_cast<int>(f % 3);
            const int c = static_cast<int>(f / 3) * 2;
            g->addWidget(box, r, c);
            g->addWidget(edit, r, c + 1);
            fieldBoxes_[f] = box;
            expressions_[f] = edit;
        }
        cbMode_ = new QComboBox(this);
        cbMode_->setObjectName(QStringLiteral("cbMode"));
        cbMode_->addItems({tr("Leave"), tr("Overwrite"), tr("Overwrite only empty fields")});
        btnAutoNumbering_ = new QToolButton(this);
        btnAutoNumbering_->setObjectName(QStringLiteral("btnAutoNumbering"));
        btnAutoNumbering_->setText(tr("Auto numbering"));
        btnAutoNumbering_->setCheckable(true);
        g->addWidget(new QLabel(tr("Fields from Sondrel"), this), 3, 0);
        g->addWidget(cbMode_, 3, 1);
        g->addWidget(btnAutoNumbering_, 3, 3);
        connect(cbMode_, &QComboBox::currentIndexChanged, this, &BatchWindow::AutoPreview);
        connect(btnAutoNumbering_, &QToolButton::toggled, this, [this](bool down) {
            QLineEdit* track = expressions_[kFieldTrack];
            if (down) {
                const QString start = askStartNumber ? askStartNumber() : QString();
                if (!start.isEmpty()) {
                    track->setText(Q(AutoNumberExpression(S(start))));
                    return;
                }
                const QSignalBlocker block(btnAutoNumbering_);
                btnAutoNumbering_->setChecked(false);
            }
            track->setText(QStringLiteral("%#"));
        });
    }
    lookups_ = new LookupPages(store_, model_, pages_->widget(kPageFreeDb),
                               pages_->widget(kPageAmazon), pages_->widget(kPageMusicBrainz),
                               {host_.trackStyle, host_.editorOptions, [this] { return progress_; },
                                [this](const QString& m) { showError(m); },
                                [this] {
                                    pages_->setCurrentIndex(kPageRename);
                                    Rescan();
                                    KeepRows(model_->rows());
                                }},
                               this);
    {
        auto* g = new QGridLayout(pages_->widget(kPageExport));
        cbExport_ = new QComboBox(this);
        cbExport_->setObjectName(QStringLiteral("cbExport"));
        cbExport_->addItems({tr("Spreadsheet"), tr("CSV text file"), tr("TSV text file"),
                             tr("M3U playlist"), tr("PLS playlist")});
        g->addWidget(new QLabel(tr("Export to"), this), 0, 0);
        g->addWidget(cbExport_, 0, 1);
        g->setColumnStretch(2, 1);
        g->setRowStretch(1, 1);
    }
    // The table takes the height; the tabs only what their options need.
    pages_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    layout->addWidget(pages_);

    // The table and the row buttons.
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("sgRename"));
    table_->setModel(model_);
    // A language renames the columns; the column list shows their captions.
    connect(model_, &QAbstractItemModel::headerDataChanged, this, [this] { FillFieldsList(); });
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setDragDropMode(QAbstractItemView::InternalMove);
    table_->setDefaultDropAction(Qt::MoveAction);
    table_->setDragEnabled(true);
    table_->setAcceptDrops(true);
    table_->setDropIndicatorShown(true);
    // Above or below a row moves before or after it; onto its middle makes
    // sub-rows (the overwrite mode would make every drop "onto").
    table_->setDragDropOverwriteMode(false);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    table_->horizontalHeader()->setSectionsClickable(true);
    connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, model_,
            &BatchTableModel::headerClicked);
    connect(model_, &BatchTableModel::rowsMovedTo, this, [this](int first, int count) {
        table_->clearSelection();
        for (int r = first; r < first + count && r < model_->rowCount(); ++r)
            table_->selectionModel()->select(
                model_->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    });
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid() || !host_.showInList)
            return;
        host_.showInList(Q(model_->rows()[static_cast<std::size_t>(index.row())].data.FullPath()));
    });
    layout->addWidget(table_, 1);

    auto* buttons = new QHBoxLayout;
    auto addButton = [this, buttons](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        buttons->addWidget(b);
        return b;
    };
    connect(addButton("btnSelectAll", tr("Select &all")), &QPushButton::clicked, this,
            &BatchWindow::SelectAllRows);
    connect(addButton("btnCheck", tr("&Check")), &QPushButton::clicked, this,
            &BatchWindow::CheckHighlighted);
    connect(addButton("btnUnCheck", tr("&Uncheck")), &QPushButton::clicked, this,
            &BatchWindow::UncheckHighlighted);
    connect(addButton("btnReverse", tr("Re&verse")), &QPushButton::clicked, this,
            &BatchWindow::ReverseHighlighted);
    buttons->addStretch();
    btnRescan_ = addButton("btnRescan", tr("Re&scan"));
    btnRename_ = addButton("btnRename", tr("&Rename"));
    btnDelete_ = addButton("btnDelete", tr("&Delete"));
    connect(btnRescan_, &QPushButton::clicked, this, &BatchWindow::Rescan);
    connect(btnRename_, &QPushButton::clicked, this, &BatchWindow::RunAction);
    connect(btnDelete_, &QPushButton::clicked, this, &BatchWindow::DeleteChecked);
    layout->addLayout(buttons);

    connect(btnPlus, &QToolButton::clicked, this, &BatchWindow::btnPlusClick);
    connect(btnMinus, &QToolButton::clicked, this, &BatchWindow::btnMinusClick);
    connect(btnUp, &QToolButton::clicked, this, [this] { MoveField(-1); });
    connect(btnDown, &QToolButton::clicked, this, [this] { MoveField(+1); });
    connect(lbFormats_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!filling_)
            SetFieldVisible(lbFormats_->row(item), item->checkState() == Qt::Checked);
    });
    connect(cbFormat_, &QComboBox::currentIndexChanged, this,
            [this](int index) { templates_.Select(index); });
    connect(cbFormat_, &QComboBox::editTextChanged, this, &BatchWindow::AutoPreview);
    connect(cbCapitalization_, &QComboBox::currentIndexChanged, this, &BatchWindow::AutoPreview);
    connect(cbReplace_, &QComboBox::currentIndexChanged, this, &BatchWindow::AutoPreview);
    connect(cbBad_, &QCheckBox::toggled, this, &BatchWindow::AutoPreview);
    connect(cbRemoveExtraSpaces_, &QCheckBox::toggled, this, &BatchWindow::AutoPreview);
    connect(pages_, &QTabWidget::currentChanged, this, &BatchWindow::PageChanged);
}

void BatchWindow::ReadSettings() {
    filling_ = true;
    WindowBox box{store_.ReadInteger(QStringLiteral("rnLeft"), 10),
                  store_.ReadInteger(QStringLiteral("rnTop"), 40),
                  store_.ReadInteger(QStringLiteral("rnWidth"), 650),
                  store_.ReadInteger(QStringLiteral("rnHeight"), 446)};
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : QSize(1024, 768);
    box = FitBatchWindow(box, available.width(), available.height(), true);
    move(box.left, box.top);
    resize(box.width, box.height);
    for (int c = 0; c < kColumnCount; ++c) {
        columnWidths_[static_cast<std::size_t>(c)] =
            store_.ReadInteger(QStringLiteral("rnCol%1Width").arg(c), kDefaultColumnWidths[c]);
        table_->setColumnWidth(c, columnWidths_[static_cast<std::size_t>(c)]);
    }
    for (int i = 0; i < kOptionalColumnCount; ++i) {
        FormatSlot& s = slots_[static_cast<std::size_t>(i)];
        s.Visible = store_.ReadBool(QStringLiteral("format%1checked").arg(i), true);
        s.ListPos = store_.ReadInteger(QStringLiteral("format%1ind").arg(i), i);
        s.Width = store_.ReadInteger(QStringLiteral("format%1width").arg(i), 50);
    }
    ResetPositionsIfInvalid(slots_);
    cbAutoPreview_->setChecked(store_.ReadBool(QStringLiteral("cbAutoPreview"), true));

    std::vector<std::string> stored;
    const int count = store_.ReadInteger(QStringLiteral("KolFormat"), 0);
    for (int i = 1; i <= count; ++i)
        stored.push_back(S(store_.ReadString(QStringLiteral("Format%1").arg(i))));
    templates_ =
        TemplateList::Load(std::move(stored), store_.ReadInteger(QStringLiteral("FormatIndex"), 0));
    for (const std::string& t : templates_.Items())
        cbFormat_->addItem(Q(t));
    cbFormat_->setCurrentIndex(templates_.Selected());

    cbCapitalization_->setCurrentIndex(
        std::clamp(store_.ReadInteger(QStringLiteral("cbCapitalization"), 0), 0, 4));
    cbReplace_->setCurrentIndex(
        std::clamp(store_.ReadInteger(QStringLiteral("cbReplace"), 2), 0, 3));
    cbBad_->setChecked(store_.ReadBool(QStringLiteral("cbBad"), true));
    cbRemoveExtraSpaces_->setChecked(store_.ReadBool(QStringLiteral("cbRemoveExtraSpaces"), true));
    cbMode_->setCurrentIndex(std::clamp(store_.ReadInteger(QStringLiteral("cbMode"), 1), 0, 2));
    cbExport_->setCurrentIndex(
        std::clamp(store_.ReadInteger(QStringLiteral("ExportIndex"), 0), 0, 4));
    filling_ = false;
    FillFieldsList();
    ApplyColumnLayout();
}

void BatchWindow::WriteSettings() {
    store_.WriteInteger(QStringLiteral("rnLeft"), x());
    store_.WriteInteger(QStringLiteral("rnTop"), y());
    store_.WriteInteger(QStringLiteral("rnWidth"), width());
    store_.WriteInteger(QStringLiteral("rnHeight"), height());
    for (int c = 0; c < kColumnCount; ++c) {
        // A hidden column reports no width; it keeps the one it had.
        const int w = table_->isColumnHidden(c) ? columnWidths_[static_cast<std::size_t>(c)]
                                                : table_->columnWidth(c);
        store_.WriteInteger(QStringLiteral("rnCol%1Width").arg(c), w);
    }
    for (int i = 0; i < kOptionalColumnCount; ++i) {
        const FormatSlot& s = slots_[static_cast<std::size_t>(i)];
        store_.WriteBool(QStringLiteral("format%1checked").arg(i), s.Visible);
        store_.WriteInteger(QStringLiteral("format%1ind").arg(i), s.ListPos);
        store_.WriteInteger(QStringLiteral("format%1width").arg(i), s.Width);
    }
    store_.WriteBool(QStringLiteral("cbAutoPreview"), cbAutoPreview_->isChecked());
    const auto& items = templates_.Items();
    store_.WriteInteger(QStringLiteral("KolFormat"), static_cast<int>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i)
        store_.WriteString(QStringLiteral("Format%1").arg(i + 1), Q(items[i]));
    store_.WriteInteger(QStringLiteral("FormatIndex"), std::max(templates_.Selected(), 0));
    store_.WriteInteger(QStringLiteral("cbCapitalization"), cbCapitalization_->currentIndex());
    store_.WriteInteger(QStringLiteral("cbReplace"), cbReplace_->currentIndex());
    store_.WriteBool(QStringLiteral("cbBad"), cbBad_->isChecked());
    store_.WriteBool(QStringLiteral("cbRemoveExtraSpaces"), cbRemoveExtraSpaces_->isChecked());
    store_.WriteInteger(QStringLiteral("cbMode"), cbMode_->currentIndex());
    store_.WriteInteger(QStringLiteral("ExportIndex"), cbExport_->currentIndex());
    store_.Sync();
}

void BatchWindow::FillFieldsList() {
    filling_ = true;
    const int current = lbFormats_->currentRow();
    lbFormats_->clear();
    for (int pos = 0; pos < kOptionalColumnCount; ++pos) {
        const int slot = SlotAtListPos(slots_, pos);
        const QString caption =
            model_->headerData(slot + kFirstOptionalColumn, Qt::Horizontal, Qt::DisplayRole)
                .toString();
        auto* item = new QListWidgetItem(Q(FieldListText(slot, S(caption))), lbFormats_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                       Qt::ItemIsDragEnabled);
        item->setCheckState(slots_[static_cast<std::size_t>(slot)].Visible ? Qt::Checked
                                                                           : Qt::Unchecked);
    }
    lbFormats_->setCurrentRow(current);
    filling_ = false;
}

void BatchWindow::ApplyColumnLayout() {
    QHeaderView* header = table_->horizontalHeader();
    std::vector<ColumnPlacement> layout =
        ColumnLayout(slots_, pages_->currentIndex() == kPageRename);
    // From the left, so that each move leaves the places before it alone.
    std::sort(layout.begin(), layout.end(), [](const ColumnPlacement& a, const ColumnPlacement& b) {
        return a.visualPos < b.visualPos;
    });
    for (const ColumnPlacement& p : layout) {
        const int from = header->visualIndex(p.column);
        if (from != p.visualPos)
            header->moveSection(from, p.visualPos);
        table_->setColumnHidden(p.column, !p.visible);
        if (p.visible && table_->columnWidth(p.column) == 0)
            table_->setColumnWidth(p.column, columnWidths_[static_cast<std::size_t>(p.column)]);
    }
}

void BatchWindow::MoveField(int delta) {
    const int moved = MoveListItem(slots_, lbFormats_->currentRow(), delta);
    if (moved < 0)
        return;
    FillFieldsList();
    lbFormats_->setCurrentRow(moved);
    ApplyColumnLayout();
}

void BatchWindow::SetFieldVisible(int listPos, bool visible) {
    const int slot = SlotAtListPos(slots_, listPos);
    if (slot < 0)
        return;
    slots_[static_cast<std::size_t>(slot)].Visible = visible;
    if (QListWidgetItem* item = lbFormats_->item(listPos)) {
        filling_ = true;
        item->setCheckState(visible ? Qt::Checked : Qt::Unchecked);
        filling_ = false;
    }
    ApplyColumnLayout();
}

void BatchWindow::btnPlusClick() {
    const QString text = cbFormat_->currentText();
    if (!templates_.Add(S(text)))
        return;
    const QSignalBlocker block(cbFormat_);
    cbFormat_->addItem(text);
    cbFormat_->setCurrentIndex(templates_.Selected());
}

void BatchWindow::btnMinusClick() {
    const QString text = cbFormat_->currentText();
    const int index = cbFormat_->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!templates_.Remove(S(text)))
        return;
    const QSignalBlocker block(cbFormat_);
    cbFormat_->removeItem(index);
    cbFormat_->setEditText(text);
}

std::vector<int> BatchWindow::HighlightedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void BatchWindow::SelectAllRows() {
    table_->selectAll();
}

void BatchWindow::CheckHighlighted() {
    model_->tickRows(HighlightedRows(), BatchTableModel::Tick::Check);
}

void BatchWindow::UncheckHighlighted() {
    model_->tickRows(HighlightedRows(), BatchTableModel::Tick::Uncheck);
}

void BatchWindow::ReverseHighlighted() {
    model_->tickRows(HighlightedRows(), BatchTableModel::Tick::Reverse);
}

void BatchWindow::OpenOn(int page, const QString& caption, const QString& hint) {
    if (page < 0 || page >= kPageCount)
        page = kPageRename;
    if (!caption.isEmpty())
        captions_[static_cast<std::size_t>(page)] = caption;
    if (!hint.isEmpty())
        hints_[static_cast<std::size_t>(page)] = hint;
    {
        const QSignalBlocker block(pages_);
        pages_->setCurrentIndex(page);
    }
    cbAutoPreview_->setChecked(true);
    PageChanged(page);
    show();
    raise();
    activateWindow();
    Rescan();
}

void BatchWindow::PageChanged(int page) {
    model_->setNewValues(page != kPageRename);
    ApplyColumnLayout();
    btnRename_->setText(captions_[static_cast<std::size_t>(page)]);
    btnRename_->setToolTip(hints_[static_cast<std::size_t>(page)]);
    // The look-up pages keep the rows as they are; their look-ups fill them.
    if (page == kPageExport)
        Preview();
    else if (page == kPageRename || page == kPageGenerate)
        AutoPreview();
}

bool BatchWindow::StepProgress() {
    if (!progress_)
        return true;
    progress_->Step();
    QCoreApplication::processEvents();
    return progress_->Running();
}

void BatchWindow::Rescan() {
    if (running_ || (progress_ && progress_->Running()))
        return;
    running_ = true;
    const std::vector<BatchFile> files =
        host_.selectedFiles ? host_.selectedFiles() : std::vector<BatchFile>();
    ScanOptions scan;
    scan.subfolderMode = host_.subfolderMode && host_.subfolderMode();
    scan.trackStyle = host_.trackStyle ? host_.trackStyle() : kTrackStyleX;
    scan.decimalSeparator = S(QLocale().decimalPoint());
    TagBridge bridge(host_.editorOptions ? host_.editorOptions() : EditorOptions{});
    model_->setRows({});
    if (progress_)
        progress_->Start(static_cast<int>(files.size()));
    std::vector<BatchRow> rows =
        ReadBatchRows(bridge, files, scan, [this] { return StepProgress(); });
    if (progress_) {
        progress_->Finish();
        progress_->RestoreMain(false);
    }
    model_->setRows(std::move(rows));
    running_ = false;
    ApplyColumnLayout();
    Preview();
}

NameOptions BatchWindow::NameOptionsNow() const {
    NameOptions o;
    o.replace = cbReplace_->currentIndex();
    o.deleteBadLetters = cbBad_->isChecked();
    o.removeExtraSpaces = cbRemoveExtraSpaces_->isChecked();
    o.capitalization = cbCapitalization_->currentIndex();
    o.transliteration = cbTranslit_->currentIndex();
    return o;
}

GenerateOptions BatchWindow::GenerateOptionsNow() const {
    GenerateOptions o;
    o.nameTemplate = S(cbFormat_->currentText());
    for (std::size_t f = 0; f < kParseFieldCount; ++f) {
        o.fields[f].expression = S(expressions_[f]->text());
        o.fields[f].enabled = fieldBoxes_[f]->isChecked();
    }
    o.mode = cbMode_->currentIndex();
    o.autoNumbering = btnAutoNumbering_->isChecked();
    o.name = NameOptionsNow();
    o.trackStyle = host_.trackStyle ? host_.trackStyle() : kTrackStyleX;
    o.shownFolderName = host_.shownFolder ? LastFolderName(S(host_.shownFolder())) : std::string();
    return o;
}

RenameContext BatchWindow::RenameContextNow() const {
    RenameContext c;
    c.shownFolder = host_.shownFolder ? S(host_.shownFolder()) : std::string();
    c.subfolderMode = host_.subfolderMode && host_.subfolderMode();
    return c;
}

void BatchWindow::AutoPreview() {
    if (!filling_ && cbAutoPreview_->isChecked())
        Preview();
}

void BatchWindow::Preview() {
    if (running_ || model_->rowCount() == 0)
        return;
    std::vector<BatchRow>& rows = model_->mutableRows();
    switch (pages_->currentIndex()) {
        case kPageRename:
            PreviewRenameRows(rows, S(cbFormat_->currentText()), NameOptionsNow(),
                              RenameContextNow());
            break;
        case kPageGenerate:
            GenerateTags(rows, GenerateOptionsNow());
            break;
        case kPageExport:
            PreviewExport(rows, cbTranslit_->currentIndex(), cbCapitalization_->currentIndex());
            break;
        default:
            return;
    }
    model_->valuesChanged();
}

void BatchWindow::RunAction() {
    if (running_)
        return;
    switch (pages_->currentIndex()) {
        case kPageRename:
            RunRename();
            break;
        case kPageGenerate:
            RunGenerate();
            break;
        case kPageExport:
            RunExport();
            break;
        case kPageFreeDb:
            lookups_->Write(LookupPages::Source::FreeDb);
            break;
        case kPageAmazon:
            lookups_->Write(LookupPages::Source::Store);
            break;
        case kPageMusicBrainz:
            lookups_->Write(LookupPages::Source::MusicBrainz);
            break;
        default:
            break;
    }
}

void BatchWindow::KeepRows(std::vector<BatchRow> rows) {
    if (host_.refreshList)
        host_.refreshList();
    if (rows.empty()) {
        model_->setRows({});
        close();
        return;
    }
    if (host_.selectInList) {
        std::vector<std::string> paths;
        paths.reserve(rows.size());
        for (const BatchRow& row : rows)
            paths.push_back(row.data.FullPath());
        host_.selectInList(paths);
    }
    model_->setRows(std::move(rows));
}

void BatchWindow::RunRename() {
    if (model_->rowCount() == 0)
        return;
    Preview();
    std::vector<BatchRow> rows = model_->rows();
    const RenameResult result = sondrel::RunRename(rows, RenameContextNow());
    // Rows with an outcome stay, showing it; renamed rows leave the table.
    std::vector<BatchRow> kept;
    std::size_t cursor = 0;
    for (std::size_t k = 0; k < result.outcomes.size(); ++k) {
        const RenameOutcome& o = result.outcomes[k];
        while (cursor < rows.size() && rows[cursor].Before() != o.Path)
            ++cursor;
        if (cursor == rows.size())
            break;
        BatchRow row = rows[cursor++];
        row.After = OutcomeText(o);
        row.Problem = o.Code == kOutcomeOk ? std::string() : result.reasons[k];
        kept.push_back(std::move(row));
    }
    KeepRows(std::move(kept));
    if (result.errors > 0)
        showError(
            Q(RunSummary(RenameFailureMessage(result.errors), result.outcomes, result.reasons)));
}

void BatchWindow::RunGenerate() {
    if (model_->rowCount() == 0)
        return;
    std::vector<BatchRow> rows = model_->rows();
    TagBridge bridge(host_.editorOptions ? host_.editorOptions() : EditorOptions{});
    running_ = true;
    btnRename_->setEnabled(false);
    if (progress_)
        progress_->Start(static_cast<int>(rows.size()));
    const GenerateResult result =
        GenerateTags(rows, GenerateOptionsNow(), &bridge, [this] { return StepProgress(); });
    if (progress_) {
        progress_->Finish();
        progress_->RestoreMain(false);
    }
    btnRename_->setEnabled(true);
    running_ = false;
    const std::set<std::size_t> written(result.written.begin(), result.written.end());
    std::vector<BatchRow> kept;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!written.count(i))
            kept.push_back(rows[i]);
    }
    {
        const QSignalBlocker block(btnAutoNumbering_);
        btnAutoNumbering_->setChecked(false);
    }
    expressions_[kFieldTrack]->setText(QStringLiteral("%#"));
    KeepRows(std::move(kept));
    std::vector<RenameOutcome> failed;
    std::vector<std::string> reasons;
    for (const auto& f : result.failures) {
        failed.push_back({f.path, {}, kOutcomeFileError});
        reasons.push_back(f.error);
    }
    if (!failed.empty())
        showError(
            Q(RunSummary("Can't write tags: " + std::to_string(failed.size()), failed, reasons)));
}

QString BatchWindow::ExportFilters() {
    return tr(
        "CSV text file (*.csv);;TSV text file (*.tsv);;M3U playlist (*.m3u);;"
        "PLS playlist (*.pls);;All files (*)");
}

void BatchWindow::RunExport() {
    const auto kind = static_cast<ExportKind>(cbExport_->currentIndex());
    if (kind == ExportKind::Spreadsheet) {
        ExportSpreadsheet();
        return;
    }
    const QString chosen =
        askSaveName ? askSaveName(ExportFilters(), cbExport_->currentIndex()) : QString();
    if (chosen.isEmpty())
        return;
    const std::string path = ExportFileName(S(chosen), kind);
    btnRename_->setEnabled(false);
    const IoResult written = WriteExportFile(path, kind, model_->rows(), LayoutOf(slots_, *model_));
    btnRename_->setEnabled(true);
    if (!written)
        showError(shell::Message(sondrel::msg::kCannotWrite).arg(Q(path), Q(written.error)));
}

void BatchWindow::ExportSpreadsheet() {
    const ExportLayout layout = LayoutOf(slots_, *model_);
    // The clipboard gets the tab-separated text in any case.
    QApplication::clipboard()->setText(
        Q(BuildExportText(ExportKind::Spreadsheet, model_->rows(), layout)));
    const std::string path = TemporaryWorkbookPath();
    const WorkbookResult written = WriteWorkbook(path, model_->rows(), layout);
    if (!written) {
        showError(shell::Message(32) + QStringLiteral(" ") + Q(written.error));
        return;
    }
    lastWorkbook_ = Q(path);
    if (!openExternal || !openExternal(lastWorkbook_)) {
        showError(shell::Message(32) + QStringLiteral(" ") +
                  shell::Message(sondrel::msg::kNoWorkbookProgram).arg(lastWorkbook_));
    }
}

void BatchWindow::DeleteChecked() {
    if (model_->rowCount() == 0)
        return;
    if (!confirm || !confirm(tr(kMsgDeleteQuestion)))
        return;
    std::vector<BatchRow> rows = model_->rows();
    const DeleteResult result =
        DeleteCheckedFiles(rows, host_.permanentDelete && host_.permanentDelete(), toTrash);
    const std::set<std::size_t> deleted(result.deleted.begin(), result.deleted.end());
    std::vector<BatchRow> kept;
    std::size_t k = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (deleted.count(i))
            continue;
        BatchRow row = rows[i];
        if (k < result.outcomes.size() && result.outcomes[k].Path == row.Before()) {
            row.After = OutcomeText(result.outcomes[k]);
            row.Problem = result.reasons[k];
            ++k;
        }
        kept.push_back(std::move(row));
    }
    if (result.errors == 0)
        kept.clear();  // every ticked file went: the window closes
    KeepRows(std::move(kept));
    if (result.errors > 0)
        showError(
            Q(RunSummary(DeleteFailureMessage(result.errors), result.outcomes, result.reasons)));
}

bool BatchWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (!edit || (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop))
        return QWidget::eventFilter(watched, event);
    // Drag enter and move events are drop events too.
    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* mime = drop->mimeData();
    if (!mime || !mime->hasFormat(QString::fromLatin1(kFieldMimeType)))
        return QWidget::eventFilter(watched, event);
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        // Appended wherever it was dropped; setText runs the preview as typing does.
        edit->setText(edit->text() +
                      QString::fromUtf8(mime->data(QString::fromLatin1(kFieldMimeType))));
    }
    return true;
}

void BatchWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
