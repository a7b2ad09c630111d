// SPDX-License-Identifier: GPL-3.0-or-later
// The plain text of a Rich Text Format document: paragraphs and line breaks
// become line ends, "\'hh" escapes are bytes of the document's code page,
// "\uN" escapes are Unicode; font tables, styles, pictures and other
// destinations are skipped. Plain C++: no Qt.
#pragma once

#include <string>
#include <string_view>

namespace sondrel::media {

// UTF-8 text; `codepage` is used for "\'hh" bytes (the document's own
// "\ansicpgN" wins when it names one).
std::string RtfToText(std::string_view rtf, std::string_view codepage = "windows-1252");

}  // namespace sondrel::media
