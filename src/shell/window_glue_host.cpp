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
            if (entries_[i].window != watched)
                continue;
            if (event->type() == QEvent::Move)
                Moved(i);
            else
                entries_[i].glue.rect = RectOf(entries_[i].window);
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowGlueHost::Moved(std::size_t index) {
    Entry& self = entries_[index];
    const sondrel::GlueRect now = RectOf(self.window);
    // Our own placement coming back from the window system: only note it.
    if (self.placed && QPoint(now.left, now.top) == self.placedAt) {
        self.placed = false;
        self.glue.rect = now;
        return;
    }
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
        sondrel::SnapProposal(state, index, now, sondrel::ActiveEdges::Moving(), work, opts, moved);
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
    for (const sondrel::WindowMove& m : moved)
        Place(m.window, m.left, m.top);
    if (snapped.left != now.left || snapped.top != now.top)
        Place(index, snapped.left, snapped.top);
    for (const sondrel::WindowMove& m : sondrel::FollowAnchor(state, index))
        Place(m.window, m.left, m.top);
}

void WindowGlueHost::Place(std::size_t index, int left, int top) {
    Entry& e = entries_[index];
    if (!e.window)
        return;
    e.glue.rect.left = left;
    e.glue.rect.top = top;
    e.placed = true;
    e.placedAt = QPoint(left, top);
    // A window placed by the program snaps nothing on its way.
    e.glue.snapping = false;
    e.window->move(left, top);
    e.glue.snapping = true;
}

}  // namespace shell
