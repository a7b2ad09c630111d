// SPDX-License-Identifier: GPL-3.0-or-later
// Pure rules of the windows' geometry, lists and texts, kept apart from the
// widgets so they are testable without a display.
#pragma once

#include <QColor>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace shell {

// The main window's stored geometry checked against the screen at start:
// an edge off the screen becomes 0, a width outside 400..screen becomes 430,
// a height outside 400..screen becomes 527.
QRect ClampMainWindowStart(const QRect& stored, const QSize& screen);

// A resize: a side below 400 or beyond the screen becomes 400.
QSize ClampMainWindowResize(const QSize& size, const QSize& screen);

// The information window at start: edges off the screen become 0, a width
// below 0 or wider than the screen 158, a height below 0 or taller than the screen 313.
QRect ClampInfoWindowStart(const QRect& stored, const QSize& screen);

// How much of a title bar must lie on a screen for the user to reach it.
inline constexpr int kTitleBarHeight = 30;
inline constexpr int kTitleBarGrip = 100;

// Where a window's frame goes so that its title bar can be grabbed: `frame`
// unchanged when its top strip lies on one of `screens` (at least
// kTitleBarGrip pixels of it, or the whole width of a narrower window),
// otherwise moved onto the screen it overlaps most (the first when none).
// Screens change between runs; a stored place may be on none of them.
QPoint KeepTitleBarOnScreen(const QRect& frame, const QList<QRect>& screens);

// The track box's list: an empty entry, then 1..32 padded with zeros to
// 1, 2 or 3 digits by "Format of track #" (0 "x", 1 "0x", 2 "00x").
QStringList TrackListEntries(int trackIndex);

// round((position - minimum) / (maximum - minimum) * 100); 0 for an empty range.
int ProgressPercent(int position, int minimum, int maximum);

// "Time left: hh:mm:ss" for `elapsedSeconds` at `percent`, or an empty text
// at 0 % (the label then stays as it is).
QString TimeLeftText(double elapsedSeconds, int percent, const QString& prefix);

// The URL label's target: "mailto:" before an address with "@", otherwise
// "http://" unless present; empty for an empty box; at most 259 characters.
QString UrlLabelTarget(const QString& urlBox);

// The help file: <program folder>/<language>.html, else English.html, else empty.
QString HelpFileFor(const QString& programFolder, const QString& language);

// Where the information window's grid double click goes.
enum class InfoClick { Pictures, Lyrics, Both };
InfoClick InfoGridDoubleClick(int row);

// WCAG 2 relative luminance (0 black .. 1 white) and the contrast ratio of two
// colours (1 .. 21), whichever is lighter.
double RelativeLuminance(const QColor& color);
double ContrastRatio(const QColor& a, const QColor& b);

// A hint colour must stand out from the field colour at least this much
// (the WCAG ratio for parts of a control).
inline constexpr double kMinHintContrast = 3.0;

// `hint` itself when it stands out from `field` enough; otherwise the nearest
// colour toward black or white that does.
QColor ReadableHintColor(const QColor& field, const QColor& hint);
// Black or white, whichever reads better on `background`.
QColor ReadableTextOn(const QColor& background);

// The status line's note of the "Read Tag" choice: empty for "version 1&2",
// which reads every tag kind.
QString ReadChoiceNote(int readChoice);

// "Read Tag" stepping with Ctrl+T: 0 -> 1 -> 2 -> 0.
inline int NextReadTagChoice(int current) {
    return (current + 1) % 3;
}

}  // namespace shell
