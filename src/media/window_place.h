// SPDX-License-Identifier: GPL-3.0-or-later
// Where the lyrics and pictures windows stand: their stored place checked
// against the screen, read and written through the host's settings.
#pragma once

#include <QRect>
#include <QSize>

class MediaHost;
class QWidget;

struct PlaceRule {
    const char* prefix;  // "fmText": keys fmTextLeft, fmTextTop, fmTextWidth, fmTextHeight
    QRect defaults;
    QSize fallback;  // the size taken for a width or height that does not fit
};

// A left or top below 0 or beyond the screen becomes 0; a width or height
// below 0 or beyond the screen becomes the fallback's.
QRect CheckedPlace(const QRect& stored, const QSize& screen, const QSize& fallback);

// The stored place (or the defaults), checked against the window's screen.
QRect StoredPlace(const MediaHost& host, const PlaceRule& rule, const QSize& screen);
void StorePlace(MediaHost& host, const PlaceRule& rule, const QWidget& window);
