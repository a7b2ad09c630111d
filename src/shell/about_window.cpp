// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/about_window.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "util/version.h"

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmAbout"));
    setWindowTitle(tr("About"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("<b>Sondrel</b>"), this);
    name->setObjectName(QStringLiteral("labName"));
    // The version every part of the program reports (util/version.h).
    auto* build = new QLabel(tr("Version %1").arg(QString::fromUtf8(sondrel::Version())), this);
    build->setObjectName(QStringLiteral("labBuild"));
    auto* link = new QLabel(this);
    link->setObjectName(QStringLiteral("labLink"));
    link->setText(tr("A tag editor for audio files."));
    auto* ok = new QPushButton(tr("&OK"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(name);
    layout->addWidget(build);
    layout->addWidget(link);
    layout->addWidget(ok, 0, Qt::AlignRight);
    // Nothing in it grows: a fixed size, so no maximise button is offered.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
}
