// SPDX-License-Identifier: GPL-3.0-or-later
// Colour schemes: eight colours in a small text file of a skin's folder, one
// decimal value a line (red in the low byte, as the files store them).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel {

using SchemeColors = std::array<std::uint32_t, 8>;

// The colours of a scheme file over `colors`. Returns how many were read;
// fewer than eight (a missing line, a line that is no number, a file that
// cannot be opened) is a failure, and the colours read before it keep their
// new values.
std::size_t ReadScheme(const std::string& path, SchemeColors& colors);

// Writes the eight colours, each line ended by CR LF, through a temporary
// file renamed over the old one; "" or the reason.
std::string WriteScheme(const std::string& path, const SchemeColors& colors);

// The scheme files (".sch") of a skin folder, by name without ".sch", sorted.
std::vector<std::string> ListSchemes(const std::string& skinFolder);

// The list entry for the current scheme name (compared without ".sch" and
// case), or 0 for the first; -1 for an empty list.
int SelectScheme(const std::vector<std::string>& names, std::string_view current);

// `name` with ".sch" appended unless it already ends so (any case); "" for a
// name that could leave the skin's folder (a separator, "." or "..", a NUL)
// or is empty, since skins and schemes are data kept in their own folder.
std::string SchemeFileName(std::string_view name);

// A colour picker slot's text: six upper-case hex digits, blue green red.
std::string SlotText(std::uint32_t color);

// A stored colour value as red, green and blue.
struct Rgb {
    int red = 0, green = 0, blue = 0;
};
Rgb ToRgb(std::uint32_t color);
std::uint32_t FromRgb(int red, int green, int blue);

}  // namespace sondrel
