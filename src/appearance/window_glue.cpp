// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/window_glue.h"

#include <cstdlib>

namespace sondrel {

namespace {

bool Near(int a, int b, int distance) {
    return std::abs(a - b) <= distance;
}

}  // namespace

ActiveEdges EdgesChanged(const GlueRect& before, const GlueRect& after) {
    if (before == after)
        return {};
    if (before.width == after.width && before.height == after.height)
        return ActiveEdges::Moving();
    return {before.left != after.left, before.right() != after.right(), before.top != after.top,
            before.bottom() != after.bottom()};
}

GlueRect SnapProposal(std::vector<GlueWindow>& windows, std::size_t s, GlueRect p,
                      ActiveEdges active, const GlueRect& work, const GlueOptions& options,
                      std::vector<WindowMove>& moved) {
    GlueWindow& self = windows[s];
    if (!self.snapping || !options.ready || p.left == 0 || p.top == 0)
        return p;
    const int d = options.snapWindows ? kSnapDistance : 0;

    // Before the first step names an edge, every edge counts as moving.
    if (active.moving() || !active.any()) {
        if (Near(work.left, p.left, d))
            p.left = work.left;
        if (Near(work.right() - p.width, p.left, d))
            p.left = work.right() - p.width;
        if (Near(work.top, p.top, d))
            p.top = work.top;
        if (Near(work.bottom() - p.height, p.top, d))
            p.top = work.bottom() - p.height;
    } else {
        // Sizing: the dragged edge meets the work area's edge, the opposite
        // edge stays where it is.
        if (active.left && !active.right && Near(work.left, p.left, d)) {
            p.width += p.left - work.left;
            p.left = work.left;
        }
        if (active.right && !active.left && Near(work.right(), p.right(), d))
            p.width = work.right() - p.left;
        if (active.top && !active.bottom && Near(work.top, p.top, d)) {
            p.height += p.top - work.top;
            p.top = work.top;
        }
        if (active.bottom && !active.top && Near(work.bottom(), p.bottom(), d))
            p.height = work.bottom() - p.top;
    }

    int candidate = kNoAnchor;
    for (std::size_t f = 0; f < windows.size(); ++f) {
        if (f == s || windows[f].anchor == static_cast<int>(s))
            continue;
        GlueWindow& other = windows[f];
        if (self.isMain && !other.isMain && options.moveWithMain) {
            other.rect.left += p.left - self.rect.left;
            other.rect.top += p.top - self.rect.top;
            moved.push_back({f, other.rect.left, other.rect.top});
        }
        const GlueRect& r = other.rect;
        bool sideways = false;
        if (r.top < p.top + p.height && p.top < r.bottom()) {
            if (active.right && Near(r.left - p.width, p.left, d)) {
                if (!active.left)
                    p.width = r.left - p.left;
                p.left = r.left - p.width;
                sideways = true;
            }
            if (active.left && Near(r.right(), p.left, d)) {
                if (!active.right)
                    p.width += p.left - r.right();
                p.left = r.right();
                sideways = true;
            }
            if (sideways) {
                if (active.top && Near(r.bottom() - p.height, p.top, d))
                    p.top = r.bottom() - p.height;
                if (active.bottom && Near(r.top, p.top, d))
                    p.top = r.top;
            }
        }
        bool vertically = false;
        if (r.left < p.left + p.width && p.left < r.right()) {
            if (active.bottom && Near(r.top - p.top, p.height, d)) {
                if (!active.top)
                    p.height = r.top - p.top;
                p.top = r.top - p.height;
                vertically = true;
            }
            if (active.top && Near(r.bottom(), p.top, d)) {
                if (!active.bottom)
                    p.height += p.top - r.bottom();
                p.top = r.bottom();
                vertically = true;
            }
            if (vertically) {
                if (active.left && Near(r.left, p.left, d))
                    p.left = r.left;
                if (active.right && Near(r.right() - p.width, p.left, d))
                    p.left = r.right() - p.width;
            }
        }
        if ((sideways || vertically) && candidate == kNoAnchor)
            candidate = static_cast<int>(f);
    }
    // The offset is taken where the window lands, not where it stood before
    // this step: otherwise following would reopen the gap the snap closed.
    if (candidate != kNoAnchor) {
        self.offsetX = p.left - windows[static_cast<std::size_t>(candidate)].rect.left;
        self.offsetY = p.top - windows[static_cast<std::size_t>(candidate)].rect.top;
    }
    if (!self.isMain)
        self.anchor = candidate;
    return p;
}

std::vector<WindowMove> FollowAnchor(std::vector<GlueWindow>& windows, std::size_t a) {
    std::vector<WindowMove> moves;
    std::vector<bool> done(windows.size(), false);
    std::vector<std::size_t> queue{a};
    done[a] = true;
    while (!queue.empty()) {
        const std::size_t leader = queue.back();
        queue.pop_back();
        const GlueRect& at = windows[leader].rect;
        if (at.left + at.top == 0)
            continue;
        for (std::size_t w = 0; w < windows.size(); ++w) {
            if (done[w] || windows[w].anchor != static_cast<int>(leader))
                continue;
            done[w] = true;
            windows[w].rect.left = at.left + windows[w].offsetX;
            windows[w].rect.top = at.top + windows[w].offsetY;
            moves.push_back({w, windows[w].rect.left, windows[w].rect.top});
            queue.push_back(w);
        }
    }
    return moves;
}

}  // namespace sondrel
