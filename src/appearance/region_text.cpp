// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/region_text.h"

#include <cctype>
#include <cstdint>
#include <limits>

namespace sondrel {

namespace {

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

struct Failure {
    std::size_t at;
    std::string message;
};

// One line's arguments: a recursive-descent reader over 64-bit values that
// refuses anything outside the 32-bit range.
class ExpressionReader {
public:
    ExpressionReader(std::string_view line, const RegionMeasures& m) : s_(line), m_(m) {}

    std::size_t Position() const { return pos_; }

    // Comma-separated expressions up to the end of the line.
    std::vector<int> Arguments() {
        std::vector<int> values;
        for (;;) {
            const std::int64_t v = Sum(0);
            values.push_back(static_cast<int>(v));
            if (values.size() > 2 * kMaxPolygonPoints)
                throw Failure{pos_, "too many values (at most " +
                                        std::to_string(2 * kMaxPolygonPoints) + ")"};
            SkipSpaces();
            if (pos_ >= s_.size())
                return values;
            if (s_[pos_] != ',')
                throw Failure{pos_, std::string("unexpected \"") + s_[pos_] + "\""};
            ++pos_;
        }
    }

    void Start(std::size_t at) { pos_ = at; }

private:
    void SkipSpaces() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t'))
            ++pos_;
    }

    static std::int64_t Checked(std::int64_t v, std::size_t at) {
        if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
            throw Failure{at, "the value is out of range"};
        return v;
    }

    std::int64_t Sum(int depth) {
        std::int64_t v = Product(depth);
        for (;;) {
            SkipSpaces();
            if (pos_ >= s_.size() || (s_[pos_] != '+' && s_[pos_] != '-'))
                return v;
            const char op = s_[pos_];
            const std::size_t at = pos_++;
            const std::int64_t rhs = Product(depth);
            v = Checked(op == '+' ? v + rhs : v - rhs, at);
        }
    }

    std::int64_t Product(int depth) {
        std::int64_t v = Unary(depth);
        for (;;) {
            SkipSpaces();
            if (pos_ >= s_.size() || (s_[pos_] != '*' && s_[pos_] != '/'))
                return v;
            const char op = s_[pos_];
            const std::size_t at = pos_++;
            const std::int64_t rhs = Unary(depth);
            if (op == '/' && rhs == 0)
                throw Failure{at, "division by zero"};
            v = Checked(op == '*' ? v * rhs : v / rhs, at);
        }
    }

    std::int64_t Unary(int depth) {
        SkipSpaces();
        if (pos_ < s_.size() && s_[pos_] == '-') {
            const std::size_t at = pos_++;
            return Checked(-Unary(depth), at);
        }
        if (pos_ < s_.size() && s_[pos_] == '+') {
            ++pos_;
            return Unary(depth);
        }
        return Operand(depth);
    }

    std::int64_t Operand(int depth) {
        SkipSpaces();
        if (pos_ >= s_.size())
            throw Failure{pos_, "a value is missing"};
        const char c = s_[pos_];
        if (c == '(') {
            if (depth + 1 > kMaxExpressionNesting)
                throw Failure{pos_, "parentheses nested too deep"};
            ++pos_;
            const std::int64_t v = Sum(depth + 1);
            SkipSpaces();
            if (pos_ >= s_.size() || s_[pos_] != ')')
                throw Failure{pos_, "\")\" is missing"};
            ++pos_;
            return v;
        }
        if (c >= '0' && c <= '9') {
            const std::size_t at = pos_;
            std::int64_t v = 0;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
                v = Checked(v * 10 + (s_[pos_] - '0'), at);
                ++pos_;
            }
            return v;
        }
        const std::size_t at = pos_++;
        switch (Upper(c)) {
            case 'W':
                return m_.width;
            case 'H':
                return m_.height;
            case 'X':
                return m_.clientLeft;
            case 'C':
                return m_.clientTop;
            case 'R':
                return m_.clientRight;
            case 'B':
                return m_.clientBottom;
            case 'Y':
                return Checked(std::int64_t{m_.clientTop} - m_.captionHeight, at);
            default:
                throw Failure{at, std::string("unexpected \"") + c + "\""};
        }
    }

    std::string_view s_;
    const RegionMeasures& m_;
    std::size_t pos_ = 0;
};

void CheckCount(RegionShapeKind kind, const std::vector<int>& values, std::size_t at) {
    switch (kind) {
        case RegionShapeKind::Rectangle:
        case RegionShapeKind::Ellipse:
            if (values.size() != 4)
                throw Failure{at, "four values are needed"};
            return;
        case RegionShapeKind::RoundRect:
            if (values.size() != 6)
                throw Failure{at, "six values are needed"};
            return;
        case RegionShapeKind::PolygonAlternate:
        case RegionShapeKind::PolygonWinding:
            if (values.size() % 2 != 0 || values.size() < 6)
                throw Failure{at, "a polygon needs at least three x,y pairs"};
            return;
        case RegionShapeKind::Group:
            return;
    }
}

// Moves `shapes` by (dx, dy); a coordinate leaving the 32-bit range fails.
void Offset(std::vector<RegionShape>& shapes, int dx, int dy, std::size_t at) {
    auto move = [&](int& v, int by) {
        const std::int64_t moved = static_cast<std::int64_t>(v) + by;
        if (moved < std::numeric_limits<int>::min() || moved > std::numeric_limits<int>::max())
            throw Failure{at, "the placed region is out of range"};
        v = static_cast<int>(moved);
    };
    for (RegionShape& shape : shapes) {
        if (shape.kind == RegionShapeKind::Group) {
            Offset(shape.group, dx, dy, at);
            continue;
        }
        // Rectangles use their first four values, polygons every pair; a
        // round rectangle's corner size stays.
        const std::size_t moved =
            shape.kind == RegionShapeKind::RoundRect ? 4 : shape.values.size();
        for (std::size_t i = 0; i < moved; ++i)
            move(shape.values[i], i % 2 == 0 ? dx : dy);
    }
}

// `commands` counts across the named regions too, so nesting cannot
// multiply the work.
std::optional<std::vector<RegionShape>> Build(std::string_view text, const RegionMeasures& measures,
                                              RegionError& error, const NamedRegionSource& named,
                                              int namedDepth, std::size_t& commands);

// "T name,x,y": the named region as a group at (x, y).
RegionShape PlaceNamed(std::string_view line, std::size_t at, const RegionMeasures& measures,
                       const NamedRegionSource& named, int namedDepth, std::size_t& commands) {
    std::size_t pos = at + 1;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    const std::size_t nameStart = pos;
    while (pos < line.size() && (std::isalnum(static_cast<unsigned char>(line[pos])) ||
                                 line[pos] == '_' || line[pos] == '-'))
        ++pos;
    const std::string_view name = line.substr(nameStart, pos - nameStart);
    if (name.empty())
        throw Failure{nameStart, "a region name is needed"};
    if (name.size() > kMaxRegionNameLength)
        throw Failure{nameStart, "a region name is at most " +
                                     std::to_string(kMaxRegionNameLength) + " characters"};
    if (pos >= line.size() || line[pos] != ',')
        throw Failure{pos, "a region name is letters, digits, \"_\" and \"-\", then \",\""};
    if (!named)
        throw Failure{at, "named regions are not available here"};
    if (namedDepth >= kMaxNamedRegionDepth)
        throw Failure{at, "named regions nested deeper than " +
                              std::to_string(kMaxNamedRegionDepth) + " levels"};
    ExpressionReader reader(line, measures);
    reader.Start(pos + 1);
    const std::vector<int> point = reader.Arguments();
    if (point.size() != 2)
        throw Failure{pos + 1, "a named region is placed at one x,y point"};
    const std::optional<std::string> text = named(name);
    if (!text)
        throw Failure{nameStart, "there is no region \"" + std::string(name) + "\""};
    RegionError inner;
    auto shapes = Build(*text, measures, inner, named, namedDepth + 1, commands);
    if (!shapes)
        throw Failure{nameStart,
                      "in region \"" + std::string(name) + "\": " + DescribeRegionError(inner)};
    Offset(*shapes, point[0], point[1], at);
    RegionShape group;
    group.kind = RegionShapeKind::Group;
    group.group = std::move(*shapes);
    return group;
}

std::optional<std::vector<RegionShape>> Build(std::string_view text, const RegionMeasures& measures,
                                              RegionError& error, const NamedRegionSource& named,
                                              int namedDepth, std::size_t& commands) {
    if (text.size() > kMaxRegionTextBytes) {
        error = {
            1, 1,
            "the region text is longer than " + std::to_string(kMaxRegionTextBytes) + " bytes"};
        return std::nullopt;
    }
    // The groups being built, innermost last; each remembers how it combines.
    std::vector<std::vector<RegionShape>> open(1);
    std::vector<RegionCombine> groupCombine;
    std::vector<int> groupLine;
    RegionCombine pending = RegionCombine::Union;
    int lineNumber = 0;
    std::string_view rest = text;
    try {
        while (!rest.empty() || lineNumber == 0) {
            const auto end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            ++lineNumber;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            std::size_t at = 0;
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
                ++at;
            if (at >= line.size())
                continue;
            if (++commands > kMaxRegionCommands)
                throw Failure{
                    at, "too many commands (at most " + std::to_string(kMaxRegionCommands) + ")"};
            const char command = Upper(line[at]);
            auto onlyCommand = [&] {
                std::size_t after = at + 1;
                while (after < line.size() && (line[after] == ' ' || line[after] == '\t'))
                    ++after;
                if (after < line.size())
                    throw Failure{after, "nothing may follow this command"};
            };
            RegionShapeKind kind = RegionShapeKind::Rectangle;
            switch (command) {
                case 'A':
                case 'O':
                case 'X':
                case 'D':
                    onlyCommand();
                    pending = command == 'A'   ? RegionCombine::Intersect
                              : command == 'O' ? RegionCombine::Union
                              : command == 'X' ? RegionCombine::Xor
                                               : RegionCombine::Difference;
                    continue;
                case '{':
                    onlyCommand();
                    if (static_cast<int>(groupCombine.size()) >= kMaxRegionGroupDepth)
                        throw Failure{at, "groups nested deeper than " +
                                              std::to_string(kMaxRegionGroupDepth) + " levels"};
                    open.emplace_back();
                    groupCombine.push_back(pending);
                    groupLine.push_back(lineNumber);
                    pending = RegionCombine::Union;
                    continue;
                case '}': {
                    onlyCommand();
                    if (groupCombine.empty())
                        throw Failure{at, "\"}\" without \"{\""};
                    RegionShape group;
                    group.kind = RegionShapeKind::Group;
                    group.combine = groupCombine.back();
                    group.group = std::move(open.back());
                    open.pop_back();
                    groupCombine.pop_back();
                    groupLine.pop_back();
                    open.back().push_back(std::move(group));
                    pending = RegionCombine::Union;
                    continue;
                }
                case 'R':
                    kind = RegionShapeKind::Rectangle;
                    break;
                case 'E':
                    kind = RegionShapeKind::Ellipse;
                    break;
                case 'L':
                    kind = RegionShapeKind::PolygonAlternate;
                    break;
                case 'W':
                    kind = RegionShapeKind::PolygonWinding;
                    break;
                case 'U':
                    kind = RegionShapeKind::RoundRect;
                    break;
                case 'T': {
                    RegionShape placed =
                        PlaceNamed(line, at, measures, named, namedDepth, commands);
                    placed.combine = pending;
                    open.back().push_back(std::move(placed));
                    pending = RegionCombine::Union;
                    continue;
                }
                default:
                    throw Failure{at, std::string("unknown command \"") + line[at] + "\""};
            }
            ExpressionReader reader(line, measures);
            reader.Start(at + 1);
            RegionShape shape;
            shape.kind = kind;
            shape.combine = pending;
            shape.values = reader.Arguments();
            CheckCount(kind, shape.values, at);
            open.back().push_back(std::move(shape));
            pending = RegionCombine::Union;
        }
        if (!groupCombine.empty()) {
            error = {groupLine.back(), 1, "\"{\" is never closed"};
            return std::nullopt;
        }
    } catch (const Failure& failure) {
        error = {lineNumber, static_cast<int>(failure.at) + 1, failure.message};
        return std::nullopt;
    }
    return std::move(open.front());
}

}  // namespace

std::optional<std::vector<RegionShape>> BuildRegion(std::string_view text,
                                                    const RegionMeasures& measures,
                                                    RegionError& error,
                                                    const NamedRegionSource& named) {
    std::size_t commands = 0;
    return Build(text, measures, error, named, 0, commands);
}

std::string DescribeRegionError(const RegionError& error) {
    return "line " + std::to_string(error.line) + ", position " + std::to_string(error.column) +
           ": " + error.message;
}

}  // namespace sondrel
