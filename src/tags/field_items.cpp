// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/field_items.h"

#include <algorithm>

namespace sondrel {

std::string JoinFieldValues(std::span<const std::string> values) {
    std::vector<std::string_view> seen;
    std::string out;
    for (const std::string& v : values) {
        if (v.empty() || std::find(seen.begin(), seen.end(), v) != seen.end())
            continue;
        if (!seen.empty())
            out += " / ";
        out += v;
        seen.push_back(v);
    }
    return out;
}

}  // namespace sondrel
