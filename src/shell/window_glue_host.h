// SPDX-License-Identifier: GPL-3.0-or-later
// Gluing for the program's windows: a window moved near the work area's
// edges or another window snaps to it and is glued to it, an edge dragged
// near one meets it, glued windows
// follow the window they are glued to, and the main window can bring every
// other window along. The rules are the core's (appearance/window_glue); this
// watches the windows' moves and places them.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>
#include <vector>

#include "appearance/window_glue.h"

class QWidget;

namespace shell {

class WindowGlueHost : public QObject {
    Q_OBJECT
public:
    explicit WindowGlueHost(QObject* parent = nullptr);

    // Windows in creation order; the main window is never glued to another.
    void Add(QWidget* window, bool isMain = false);

    // "Snap Windows" and "Move windows with main", read at every move.
    std::function<sondrel::GlueOptions()> options;
    // The desktop without its panels (the window's screen by default).
    std::function<QRect(QWidget* window)> workArea;

    // The window `window` is glued to, or nullptr.
    QWidget* AnchorOf(QWidget* window) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPointer<QWidget> window;
        sondrel::GlueWindow glue;
        sondrel::GlueRect placedAt;  // where we last put it ourselves
        bool placed = false;
        bool pending = false;  // a change waits for its other half
    };
    void Settle(std::size_t index);
    // The user moved or sized the window: `edges` are the ones dragged.
    void Changed(std::size_t index, sondrel::ActiveEdges edges);
    void Place(std::size_t index, const sondrel::GlueRect& rect);
    static sondrel::GlueRect RectOf(const QWidget* w);

    std::vector<Entry> entries_;
};

}  // namespace shell
