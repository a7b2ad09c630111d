// SPDX-License-Identifier: GPL-3.0-or-later
// The program's version, as every part shows and sends it: "0.1.0", or
// "0.1.0+g3822504" when built from a checkout between releases.
#pragma once

#include <string_view>

namespace sondrel {

std::string_view Version();

}  // namespace sondrel
