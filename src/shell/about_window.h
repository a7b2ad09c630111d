// SPDX-License-Identifier: GPL-3.0-or-later
// The About window.
#pragma once

#include <QDialog>

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);
};
