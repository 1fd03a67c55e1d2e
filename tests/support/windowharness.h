#pragma once

// Helpers for tests that drive the real main window against simulated
// instruments on pseudo-terminals.

#include "app/mainwindow.h"
#include "app/processstate.h"
#include "forms/mainwindowui.h"
#include "instrument/serialports.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <QTimer>

#include <memory>

namespace WindowHarness {

// A window whose ports are exactly these device paths, with the process state
// as it is at start.
inline std::unique_ptr<MainWindow> makeWindow(const QStringList &devicePaths)
{
    resetProcessState();
    return std::make_unique<MainWindow>(std::make_unique<SystemSerialPorts>(
        devicePaths, SystemSerialPorts::Enumeration::ExtraOnly));
}

inline QStringList rows(const MainWindow &window)
{
    QStringList texts;
    const QComboBox *box = window.form()->PortSelBox;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

inline QStringList logLines(const MainWindow &window)
{
    return window.form()->ResultsBox->toPlainText().split(QLatin1Char('\n'));
}

// Picks a row of PortSelBox as the user does.
inline void chooseRow(MainWindow &window, int row)
{
    QComboBox *box = window.form()->PortSelBox;
    box->setCurrentIndex(row);
    emit box->activated(row);
}

inline bool samePicture(const QPixmap &shown, const QString &resource)
{
    const QImage expected = QPixmap(resource).toImage();
    return !expected.isNull() && shown.toImage() == expected;
}

// Waits for discovery to list the window's one instrument, picks it, and waits
// for its identification in the title: about 1.6 s.
inline bool connectToListedInstrument(MainWindow &window)
{
    if (!QTest::qWaitFor([] { return DiscoveryOver; }, 3000) || window.form()->PortSelBox->count() != 2)
        return false;
    chooseRow(window, 1);
    return QTest::qWaitFor([&window] { return window.windowTitle() != "Zentaval"; }, 2000);
}

// Answers the next save dialog with `fileName` (or cancels it when empty).
inline void answerSaveDialog(const QString &fileName)
{
    QTimer::singleShot(100, [fileName] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (fileName.isEmpty()) {
            QTimer::singleShot(0, dialog, [dialog] { QMetaObject::invokeMethod(dialog, "reject"); });
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
        QTimer::singleShot(0, dialog, [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
    });
}

} // namespace WindowHarness
