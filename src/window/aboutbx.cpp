#include "window/aboutbx.h"

#include "window/aboutbxui.h"

#include <QLabel>
#include <QPixmap>

AboutBx::AboutBx(QWidget *parent)
    : QDialog(parent)
    , ui(new AboutBxUi)
{
    ui->setupUi(this);
    // The pictures replace the labels' placeholder texts.
    ui->QuorvaneIcon->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/Logo.png")));
    ui->QuorvaneIcon->setScaledContents(true);
    ui->GNUIcon->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/lgplv3-147x51.png")));
    ui->GNUIcon->setScaledContents(true);
}

AboutBx::~AboutBx()
{
    delete ui;
}
