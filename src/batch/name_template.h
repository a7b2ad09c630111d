// SPDX-License-Identifier: GPL-3.0-or-later
// Tags to file names: composing a new name for a row from a name template
// ("%A - %T", "%A\%L\%# %T") and the rename run that moves the checked files
// there, creating folders, never replacing an existing file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_row.h"

namespace sondrel {

// The "Replacing letters" choices, by list index.
enum ReplaceMode : int {
    kReplaceNone = 0,
    kReplaceSpaces = 1,       // " " -> "_"
    kReplaceUnderscores = 2,  // "_" -> " "
    kDeleteSpaces = 3,
};

// The options of the batch window that shape names and new tag values.
struct NameOptions {
    int replace = kReplaceUnderscores;
    bool deleteBadLetters = true;
    bool removeExtraSpaces = true;
    int capitalization = 0;   // CaseMode
    int transliteration = 0;  // TranslitMode
};

// The built-in template list, for an empty stored list.
const std::vector<std::string>& DefaultTemplates();

// Characters no file name may hold: " * / : < > ? \ | and NUL.
bool IsBadLetter(char c);
// Bad letters deleted, or replaced by a space.
std::string FixBadLetters(std::string_view s, bool deleteThem);
// One of the ReplaceMode rules; other values leave the text.
std::string ApplyReplacing(std::string_view s, int mode);

// The value of the placeholder "%c" for a row (letters in either case);
// empty for characters that are no placeholder.
std::string PlaceholderValue(const BatchData& data, char c);

// One path segment of a template with its placeholders filled in and the
// options applied (bad letters, replacing, transliteration, capitalization).
std::string ComposeSegment(std::string_view segment, const BatchData& data,
                           const NameOptions& options);

// The new name of a row: segments separated by "\" (and "/" on POSIX) name
// folders; the result uses the platform's separator and ends in the file's
// extension.
std::string ComposeName(std::string_view nameTemplate, const BatchData& data,
                        const NameOptions& options);

// The preview of the first tab: every row's After text composed anew.
void PreviewNames(std::vector<BatchRow>& rows, std::string_view nameTemplate,
                  const NameOptions& options);

// Outcome codes of the rename run (the numbers the outcome texts go by).
inline constexpr int kOutcomeOk = 0;
inline constexpr int kOutcomeFileError = 1;
inline constexpr int kOutcomeAccessDenied = 5;
inline constexpr int kOutcomeCantCreateFolder = 26;
inline constexpr int kOutcomeFileBusy = 32;
inline constexpr int kOutcomeAlreadyExists = 183;

// One file the run left where it was.
struct RenameOutcome {
    std::string Path;     // the row's Before
    std::string NewName;  // the intended name (empty for a failure)
    int Code = kOutcomeOk;
};

struct RenameContext {
    std::string shownFolder;  // the folder the main list shows; relative names start there
    bool subfolderMode = false;
    // Folders and names start in each file's own folder instead of the
    // shown folder (a leading separator then means that folder too).
    bool fromFileFolder = false;
    // Touch nothing: report what a run would do, with the failures it
    // would meet (existing and duplicate targets, refused folders, names
    // too long).
    bool dryRun = false;
    // Only with dryRun: every row as if it were ticked (the preview shows why a
    // row would be refused before the user ticks it).
    bool asIfTicked = false;
};

struct RenameResult {
    std::vector<RenameOutcome> outcomes;  // in display order
    // Beside each outcome: what happened, in words (empty for code 0).
    std::vector<std::string> reasons;
    int errors = 0;
    std::vector<std::size_t> renamed;  // indices into the rows, to deselect
    std::vector<std::string> targets;  // the full path each renamed row went to
};

// Renames each checked row from its Before to its After (relative to the
// shown folder), creating folders on the way; folders made for a rename
// that then fails are removed again. An existing target is never replaced.
// Rows whose file was not recognised fail with their Problem. Unchecked
// rows and names whose file part is only the extension are reported with
// code 0.
RenameResult RunRename(const std::vector<BatchRow>& rows, const RenameContext& context);

// An error number of the system as an outcome code.
int OutcomeCodeOfErrno(int error);
// What the After cell shows for an outcome.
std::string OutcomeText(const RenameOutcome& outcome);
// The message shown after a run with failures.
std::string RenameFailureMessage(int errors);

// After the rescan that follows a run: the k-th row shows the k-th outcome
// when it is still the same file.
void ShowOutcomes(std::vector<BatchRow>& rows, const std::vector<RenameOutcome>& outcomes);

}  // namespace sondrel
