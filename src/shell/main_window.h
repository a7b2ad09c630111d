// The main window: folder box and file list above, the tag editor below.
#pragma once

#include <QMainWindow>
#include <QString>

class Tfm : public QMainWindow {
    Q_OBJECT
public:
    explicit Tfm(QWidget* parent = nullptr);

    // The folder the file list shows (the command line's folder, or the
    // parent folder of the command line's file).
    const QString& currentFolder() const { return currentFolder_; }
    void openFolder(const QString& folder);

private:
    QString currentFolder_;
};
