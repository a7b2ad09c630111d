// SPDX-License-Identifier: GPL-3.0-or-later
// What the progress window asks of the main window (tray icon and minimising).
// The main window implements it, so the progress window never includes it.
#pragma once

#include <QString>

class TrayHost {
public:
    virtual ~TrayHost() = default;
    virtual QString MainCaption() const = 0;
    virtual void SetTrayHint(const QString& hint) = 0;
    virtual void SetTrayAnimation(bool running) = 0;
    // Tray icon visibility and minimise-to-tray back to the "Use tray icon" option.
    virtual void ApplyTrayOption() = 0;
    // Tray icon shown, minimising to the tray, main window minimised as by its button.
    virtual void MinimizeToTray() = 0;
    virtual void RestoreFromTray(bool minimizedByButton) = 0;
    // The batch window's Preview, Rescan and Rename buttons.
    virtual void SetBatchButtonsEnabled(bool enabled) = 0;
};
