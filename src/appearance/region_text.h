// SPDX-License-Identifier: GPL-3.0-or-later
// Region texts: the outline of a shaped window, one command a line.
//   R l,t,r,b   rectangle          E l,t,r,b   ellipse in that rectangle
//   L x,y,...   polygon, alternate W x,y,...   polygon, winding fill
//   U l,t,r,b,w,h  rounded rectangle with a w x h corner ellipse
//   A O X D     how the next shape (or group) combines with what is built:
//               intersection, union, exclusive or, difference (union when
//               nothing is said)
//   { }         a group, combined as one shape
//   T name,x,y  the skin's region text called `name`, its origin placed at
//               x,y (a group); names are letters, digits, "_" and "-" only
// Arguments are integer expressions with + - * / (integer division),
// parentheses, unary minus and the window's measures: W and H its size, X, C,
// R, B its client area's left, top, right and bottom, Y the client top less a
// caption bar. Letters are read without regard to case. Skins are data, so
// every size is bounded and a bad expression is an error, never a crash.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel {

inline constexpr std::size_t kMaxRegionTextBytes = 64 * 1024;
inline constexpr std::size_t kMaxRegionCommands = 4096;
inline constexpr int kMaxRegionGroupDepth = 15;
inline constexpr std::size_t kMaxPolygonPoints = 1024;
inline constexpr int kMaxExpressionNesting = 32;
// How deep T commands may nest; a region that names itself hits it.
inline constexpr int kMaxNamedRegionDepth = 4;
inline constexpr std::size_t kMaxRegionNameLength = 64;

struct RegionMeasures {
    int width = 0;
    int height = 0;
    int clientLeft = 0;
    int clientTop = 0;
    int clientRight = 0;
    int clientBottom = 0;
    int captionHeight = 0;
};

enum class RegionCombine { Union, Intersect, Xor, Difference };
enum class RegionShapeKind {
    Rectangle,
    Ellipse,
    PolygonAlternate,
    PolygonWinding,
    RoundRect,
    Group
};

struct RegionShape {
    RegionShapeKind kind = RegionShapeKind::Rectangle;
    RegionCombine combine = RegionCombine::Union;
    std::vector<int> values;         // the evaluated arguments
    std::vector<RegionShape> group;  // for Group
};

struct RegionError {
    int line = 0;    // from 1
    int column = 0;  // from 1
    std::string message;
};

// The text of the named region a T command asks for, or nullopt when the
// skin has none. The name has been checked: it can never spell a path.
using NamedRegionSource = std::function<std::optional<std::string>(std::string_view name)>;

// The shapes of `text` for a window of `measures`, in order; nullopt with
// `error` filled when the text is not a valid region text. Without `named`,
// a T command is an error.
std::optional<std::vector<RegionShape>> BuildRegion(std::string_view text,
                                                    const RegionMeasures& measures,
                                                    RegionError& error,
                                                    const NamedRegionSource& named = {});

// "line L, position P: message".
std::string DescribeRegionError(const RegionError& error);

}  // namespace sondrel
