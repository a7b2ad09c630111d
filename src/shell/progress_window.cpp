// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "shell/language_apply.h"
#include "shell/window_rules.h"

ProgressWindow::ProgressWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmWait"));
    setWindowTitle(tr("Please wait..."));
    // Exactly these buttons: a maximised progress bar is of no use.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setCursor(Qt::WaitCursor);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("ProgressBar"));
    bar_->setAlignment(Qt::AlignCenter);
    bar_->setTextVisible(true);
    bar_->setFormat(QStringLiteral("%p%"));
    labTimeLeft_ = new QLabel(this);
    labTimeLeft_->setObjectName(QStringLiteral("labTimeLeft"));
    btnStop_ = new QPushButton(tr("&Stop"), this);
    btnStop_->setObjectName(QStringLiteral("btnStop"));
    btnBackground_ = new QPushButton(tr("&Background"), this);
    btnBackground_->setObjectName(QStringLiteral("btnBackground"));
    btnStop_->setCursor(Qt::ArrowCursor);
    btnBackground_->setCursor(Qt::ArrowCursor);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnStop_);
    buttons->addWidget(btnBackground_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    layout->addWidget(labTimeLeft_);
    layout->addLayout(buttons);
    setFixedSize(360, 110);

    connect(btnStop_, &QPushButton::clicked, this, &ProgressWindow::Finish);
    connect(btnBackground_, &QPushButton::clicked, this, [this] {
        background_ = true;
        if (host_)
            host_->MinimizeToTray();
    });
    timeLeftTimer_.setInterval(1000);
    eventTimer_.setInterval(1000);
    connect(&timeLeftTimer_, &QTimer::timeout, this, [this] {
        UpdateTimeLeft();
        QApplication::processEvents();
    });
    connect(&eventTimer_, &QTimer::timeout, this, [] { QApplication::processEvents(); });
}

int ProgressWindow::Percent() const {
    return shell::ProgressPercent(bar_->value(), bar_->minimum(), bar_->maximum());
}

QString ProgressWindow::TimeLeft() const {
    return labTimeLeft_->text();
}

void ProgressWindow::UpdateTrayHint() {
    if (!host_)
        return;
    host_->SetTrayHint(
        QStringLiteral("%1. %2 %3%").arg(host_->MainCaption(), windowTitle()).arg(Percent()));
}

void ProgressWindow::Start(int max) {
    bar_->setMaximum(max);
    bar_->setValue(0);
    if (host_) {
        UpdateTrayHint();
        host_->SetTrayAnimation(true);
    }
    labTimeLeft_->clear();
    started_.start();
    running_ = true;
    // A run sent to the background earlier left this window minimised with
    // the main window; this run starts in front.
    background_ = false;
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    timeLeftTimer_.start();
    eventTimer_.start();
    if (host_)
        host_->SetBatchButtonsEnabled(false);
}

void ProgressWindow::Step() {
    bar_->setValue(std::min(bar_->value() + 1, bar_->maximum()));
    UpdateTrayHint();
    QApplication::processEvents();
}

void ProgressWindow::Finish() {
    timeLeftTimer_.stop();
    eventTimer_.stop();
    bar_->setValue(bar_->maximum());
    labTimeLeft_->clear();
    if (host_) {
        host_->SetBatchButtonsEnabled(true);
        host_->ApplyTrayOption();
    }
    running_ = false;
    QApplication::processEvents();
    hide();
    if (host_)
        host_->SetTrayAnimation(false);
    // Background lasts for the run in which it was pressed.
    if (std::exchange(background_, false) && host_)
        host_->RestoreFromTray(false);
}

void ProgressWindow::RestoreMain(bool minimizedByButton) {
    if (host_)
        host_->RestoreFromTray(minimizedByButton);
}

void ProgressWindow::UpdateTimeLeft() {
    const int p = Percent();
    if (p <= 0)
        return;
    const double elapsed = clock_ ? clock_() : started_.elapsed() / 1000.0;
    labTimeLeft_->setText(shell::TimeLeftText(elapsed, p, shell::Message(23)));
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Finish();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    running_ = false;
    timeLeftTimer_.stop();
    eventTimer_.stop();
    event->accept();
}
