// The About window.
#pragma once

#include <QDialog>

class TfmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfmAbout(QWidget* parent = nullptr);
};
