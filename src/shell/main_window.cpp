#include "shell/main_window.h"

#include <QDir>
#include <QLabel>

Tfm::Tfm(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Sondrel"));
    resize(800, 600);
    auto* placeholder = new QLabel(this);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setObjectName(QStringLiteral("labFolder"));
    setCentralWidget(placeholder);
}

void Tfm::openFolder(const QString& folder) {
    currentFolder_ = QDir(folder).absolutePath();
    if (auto* label = findChild<QLabel*>(QStringLiteral("labFolder"))) {
        label->setText(QDir::toNativeSeparators(currentFolder_));
    }
}
