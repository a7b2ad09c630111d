// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/workbook.h"

#include <xlsxwriter.h>

#include <unistd.h>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "util/codepage.h"

namespace sondrel {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// Spreadsheet programs cap a column's width at 255 characters.
constexpr double kMaxColumnWidth = 255.0;

// A whole number as a cell takes it; texts such as "07" become 7, while
// "1/12" or "B-side" stay text.
bool WholeNumber(const std::string& s, double& value) {
    long long n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return false;
    value = static_cast<double>(n);
    return true;
}

bool NumericSlot(int slot) {
    const int column = slot + kFirstOptionalColumn;
    return column == kColTrack || column == kColYear || column == kColBitrate || column == kColFreq;
}

class Columns {
public:
    explicit Columns(std::size_t n) : width_(n, 0.0) {}
    void Note(std::size_t col, std::size_t chars) {
        width_[col] = std::max(width_[col], static_cast<double>(chars));
    }
    void Apply(lxw_worksheet* sheet) const {
        for (std::size_t c = 0; c < width_.size(); ++c) {
            const auto col = static_cast<lxw_col_t>(c);
            worksheet_set_column(sheet, col, col, std::min(width_[c] + 2, kMaxColumnWidth),
                                 nullptr);
        }
    }

private:
    std::vector<double> width_;
};

}  // namespace

WorkbookResult WriteWorkbook(const std::string& path, const std::vector<BatchRow>& rows,
                             const ExportLayout& layout) {
    WorkbookResult result;
    lxw_workbook_options options{};
    options.tmpdir = nullptr;
    lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
    if (!book) {
        result.error = "cannot create the workbook " + path;
        return result;
    }
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* time = workbook_add_format(book);
    format_set_num_format(time, "[h]:mm:ss");
    // The "Text" number format: a cell that keeps its value as text even
    // when it is edited or searched and replaced, so "=..." never runs.
    lxw_format* text = workbook_add_format(book);
    format_set_num_format(text, "@");
    const bool escape = EscapesFormulas(layout, ExportKind::Spreadsheet);
    auto textFormat = [&](const std::string& value) {
        return escape && IsFormulaLike(value) ? text : nullptr;
    };

    std::vector<int> slots;
    for (const int slot : layout.slots) {
        if (slot >= 0 && slot < kOptionalColumnCount)
            slots.push_back(slot);
    }
    Columns widths(slots.size() + 1);
    worksheet_write_string(sheet, 0, 0, layout.fileNameCaption.c_str(), bold);
    widths.Note(0, Utf8Length(layout.fileNameCaption));
    for (std::size_t c = 0; c < slots.size(); ++c) {
        const std::string& caption = layout.captions[static_cast<std::size_t>(slots[c])];
        worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c + 1), caption.c_str(), bold);
        widths.Note(c + 1, Utf8Length(caption));
    }
    lxw_row_t r = 1;
    for (const BatchRow& row : rows) {
        worksheet_write_string(sheet, r, 0, row.Before().c_str(), textFormat(row.Before()));
        widths.Note(0, Utf8Length(row.Before()));
        for (std::size_t c = 0; c < slots.size(); ++c) {
            const int column = slots[c] + kFirstOptionalColumn;
            const auto col = static_cast<lxw_col_t>(c + 1);
            const std::string value = ColumnText(row, column, true);
            double number = 0;
            if (column == kColDuration) {
                worksheet_write_number(sheet, r, col, row.data.Duration / kSecondsPerDay, time);
                widths.Note(c + 1, 8);
            } else if (column == kColSize) {
                worksheet_write_number(sheet, r, col, static_cast<double>(row.data.FileSize),
                                       nullptr);
                widths.Note(c + 1, std::to_string(row.data.FileSize).size());
            } else if (NumericSlot(slots[c]) && WholeNumber(value, number)) {
                worksheet_write_number(sheet, r, col, number, nullptr);
                widths.Note(c + 1, value.size());
            } else if (!value.empty()) {
                worksheet_write_string(sheet, r, col, value.c_str(), textFormat(value));
                widths.Note(c + 1, Utf8Length(value));
            }
        }
        ++r;
    }
    widths.Apply(sheet);
    const lxw_error error = workbook_close(book);
    if (error != LXW_NO_ERROR) {
        result.error =
            std::string("cannot write the workbook ") + path + ": " + lxw_strerror(error);
        return result;
    }
    result.ok = true;
    return result;
}

std::string TemporaryWorkbookPath() {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec)
        dir = "/tmp";
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return (dir / ("sondrel-export-" + std::to_string(::getpid()) + "-" + std::to_string(stamp) +
                   ".xlsx"))
        .string();
}

}  // namespace sondrel
