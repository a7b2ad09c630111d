// The progress window shared by every long operation: a bar with the
// percentage, the time left, Stop (and Esc) and Background. Long loops test
// Running() before each item and end early when it is false.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

// What the progress window asks of the main window (tray icon and minimising).
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

class TfmWait : public QDialog {
    Q_OBJECT
public:
    explicit TfmWait(QWidget* parent = nullptr);

    void setTrayHost(TrayHost* host) { host_ = host; }
    // Seconds since Start; replaceable so the time-left rule can be tested.
    void setClock(std::function<double()> secondsSinceStart) {
        clock_ = std::move(secondsSinceStart);
    }

    void Start(int max);
    void Step();
    void Finish();
    void RestoreMain(bool minimizedByButton);
    bool Running() const { return running_; }

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
};
