// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/window_glue_host.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace shell {

WindowGlueHost::WindowGlueHost(QObject* parent) : QObject(parent) {}

void WindowGlueHost::Add(QWidget* window, bool isMain) {
    if (!window)
        return;
    Entry e;
    e.window = window;
    e.glue.rect = RectOf(window);
    e.glue.isMain = isMain;
    entries_.push_back(e);
    window->installEventFilter(this);
}

QWidget* WindowGlueHost::AnchorOf(QWidget* window) const {
    for (const Entry& e : entries_)
        if (e.window == window && e.glue.anchor != sondrel::kNoAnchor)
            return entries_[static_cast<std::size_t>(e.glue.anchor)].window;
    return nullptr;
}

sondrel::GlueRect WindowGlueHost::RectOf(const QWidget* w) {
    const QRect r = w->frameGeometry();
    return {r.left(), r.top(), r.width(), r.height()};
}

bool WindowGlueHost::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
        event->type() == QEvent::Show) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            Entry& e = entries_[i];
            if (e.window != watched)
                continue;
            if (event->type() == QEvent::Show) {
                e.placed = false;
                e.glue.rect = RectOf(e.window);
            } else if (!e.pending) {
                // A change of place and size arrives as a move and a resize;
                // the rectangle is judged once both are in.
                e.pending = true;
                QMetaObject::invokeMethod(
                    this, [this, i] { Settle(i); }, Qt::QueuedConnection);
            }
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowGlueHost::Settle(std::size_t index) {
    Entry& e = entries_[index];
    e.pending = false;
    if (!e.window)
        return;
    const sondrel::GlueRect now = RectOf(e.window);
    // Our own placement coming back from the window system: only note it.
    if (e.placed && now == e.placedAt) {
        e.placed = false;
        e.glue.rect = now;
        return;
    }
    // The window system names no dragged edge; the change of the rectangle does.
    const sondrel::ActiveEdges edges = sondrel::EdgesChanged(e.glue.rect, now);
    if (edges.any())
        Changed(index, edges);
}

void WindowGlueHost::Changed(std::size_t index, sondrel::ActiveEdges edges) {
    Entry& self = entries_[index];
    const sondrel::GlueRect now = RectOf(self.window);
    std::vector<sondrel::GlueWindow> state;
    for (Entry& e : entries_) {
        if (e.window && &e != &self)
            e.glue.rect = RectOf(e.window);
        // Hidden windows neither snap nor are snapped to.
        sondrel::GlueWindow g = e.glue;
        if (!e.window || !e.window->isVisible())
            g.rect = {-100000, -100000, 0, 0};
        state.push_back(g);
    }
    sondrel::GlueOptions opts = options ? options() : sondrel::GlueOptions{};
    const QRect area =
        workArea ? workArea(self.window)
                 : (self.window->screen() ? self.window->screen()->availableGeometry() : QRect());
    const sondrel::GlueRect work{area.left(), area.top(), area.width(), area.height()};
    std::vector<sondrel::WindowMove> moved;
    const sondrel::GlueRect snapped =
        sondrel::SnapProposal(state, index, now, edges, work, opts, moved);
    state[index].rect = snapped;
    // The rules take the offset from where the window was before this step;
    // here the step has already happened, so the offset is the new place's.
    if (const int a = state[index].anchor; a != sondrel::kNoAnchor && !self.glue.isMain) {
        state[index].offsetX = snapped.left - state[static_cast<std::size_t>(a)].rect.left;
        state[index].offsetY = snapped.top - state[static_cast<std::size_t>(a)].rect.top;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        entries_[i].glue.anchor = state[i].anchor;
        entries_[i].glue.offsetX = state[i].offsetX;
        entries_[i].glue.offsetY = state[i].offsetY;
    }
    self.glue.rect = snapped;
    auto at = [&](const sondrel::WindowMove& m) {
        sondrel::GlueRect r = entries_[m.window].glue.rect;
        r.left = m.left;
        r.top = m.top;
        return r;
    };
    for (const sondrel::WindowMove& m : moved)
        Place(m.window, at(m));
    if (!(snapped == now))
        Place(index, snapped);
    for (const sondrel::WindowMove& m : sondrel::FollowAnchor(state, index))
        Place(m.window, at(m));
}

void WindowGlueHost::Place(std::size_t index, const sondrel::GlueRect& rect) {
    Entry& e = entries_[index];
    if (!e.window)
        return;
    const QRect frame = e.window->frameGeometry();
    const QRect inner = e.window->geometry();
    e.glue.rect = rect;
    e.placed = true;
    e.placedAt = rect;
    // A window placed by the program snaps nothing on its way.
    e.glue.snapping = false;
    if (rect.width != frame.width() || rect.height != frame.height()) {
        // One change of place and size, the frame's margins kept.
        e.window->setGeometry(rect.left + inner.left() - frame.left(),
                              rect.top + inner.top() - frame.top(),
                              rect.width - (frame.width() - inner.width()),
                              rect.height - (frame.height() - inner.height()));
    } else {
        e.window->move(rect.left, rect.top);
    }
    e.glue.snapping = true;
}

}  // namespace shell
