#include "window/savedialog.h"

#include <QFileInfo>

namespace {
const QString DialogName = QStringLiteral("saveFileDialog");
}

QString askSaveFileName(QWidget *parent, const QString &caption, const QString &proposed, const QString &filter,
                        QFileDialog::Options options)
{
    auto *dialog = parent ? parent->findChild<QFileDialog *>(DialogName, Qt::FindDirectChildrenOnly) : nullptr;
    if (!dialog) {
        dialog = new QFileDialog(parent);
        dialog->setObjectName(DialogName);
    }
    // Everything a call sets, set again: the dialog still holds the last call's.
    dialog->setWindowTitle(caption);
    dialog->setOptions(options);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(filter);
    const QStringList filters = dialog->nameFilters();
    if (!filters.isEmpty())
        dialog->selectNameFilter(filters.constFirst());
    const QFileInfo offered(proposed);
    dialog->setDirectory(offered.absolutePath());
    dialog->selectFile(offered.fileName());
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const QString chosen = accepted ? dialog->selectedFiles().value(0) : QString();
    if (!parent)
        dialog->deleteLater();
    return chosen;
}
