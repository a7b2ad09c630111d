// SPDX-License-Identifier: GPL-3.0-or-later
// The progress window shared by every long operation: a bar with the
// percentage, the time left, Stop (and Esc) and Background. Long loops test
// Running() before each item and end early when it is false.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "shell/progress.h"
#include "shell/tray_host.h"

class QLabel;
class QProgressBar;
class QPushButton;

class ProgressWindow : public QDialog, public ProgressSink {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* parent = nullptr);

    void setTrayHost(TrayHost* host) { host_ = host; }
    // Seconds since Start; replaceable so the time-left rule can be tested.
    void setClock(std::function<double()> secondsSinceStart) {
        clock_ = std::move(secondsSinceStart);
    }

    void Start(int max) override;
    void Step() override;
    void Finish() override;
    void RestoreMain(bool minimizedByButton) override;
    bool Running() const override { return running_; }

    int Percent() const;
    QString TimeLeft() const;
    // One tick of the time-left timer (public for tests).
    void UpdateTimeLeft();

    QProgressBar* progressBar() const { return bar_; }
    QPushButton* btnStop() const { return btnStop_; }
    QPushButton* btnBackground() const { return btnBackground_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateTrayHint();

    QProgressBar* bar_ = nullptr;
    QLabel* labTimeLeft_ = nullptr;
    QPushButton* btnStop_ = nullptr;
    QPushButton* btnBackground_ = nullptr;
    QTimer timeLeftTimer_;
    QTimer eventTimer_;
    QElapsedTimer started_;
    std::function<double()> clock_;
    TrayHost* host_ = nullptr;
    bool running_ = false;
    bool background_ = false;  // Background was pressed during this run
};
