#pragma once

#include <QFileDialog>
#include <QString>

class QWidget;

// Asks for the name of a file to write, as QFileDialog::getSaveFileName does:
// `proposed` is the folder and name offered, `filter` the file types; returns
// the name chosen, or nothing when the dialog was cancelled.
//
// Each window keeps one save dialog for its life and shows it again: a dialog
// built anew for every scan left about 17 KiB behind in the toolkit's picture
// cache each time (its buttons' and list's icons, new ones every time), so a
// window that scans every minute for weeks kept growing.
QString askSaveFileName(QWidget *parent, const QString &caption, const QString &proposed, const QString &filter,
                        QFileDialog::Options options = {});
