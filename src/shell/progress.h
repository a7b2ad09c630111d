// SPDX-License-Identifier: GPL-3.0-or-later
// What a long loop in a window reports to: the progress window implements it,
// and the tag editor and file list see only this, never the window itself.
#pragma once

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void Start(int max) = 0;
    virtual void Step() = 0;
    virtual void Finish() = 0;
    // Brings the main window back when the run had sent it to the background.
    virtual void RestoreMain(bool minimizedByButton) = 0;
    // False once the user pressed Stop: loops test it before each item.
    virtual bool Running() const = 0;
};
