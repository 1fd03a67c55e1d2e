#pragma once

// Drivers of the real main window against simulated instruments on
// pseudo-terminals, for the tests, the benchmarks and the long-run programs.

#include "io/instrumentsession.h"
#include "io/serialports.h"
#include "simulatedinstrument.h"
#include "window/mainwindow.h"
#include "window/mainwindowui.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTransform>

#include <memory>

namespace WindowHarness {

// A window whose ports are exactly these device paths.
inline std::unique_ptr<MainWindow> makeWindow(const QStringList &devicePaths)
{
    return std::make_unique<MainWindow>(
        std::make_unique<SystemSerialPorts>(devicePaths, SystemSerialPorts::Enumeration::ExtraOnly));
}

inline QStringList rows(const MainWindow &window)
{
    QStringList texts;
    for (int i = 0; i < window.form()->PortSelBox->count(); ++i)
        texts << window.form()->PortSelBox->itemText(i);
    return texts;
}

// Picks a row of PortSelBox as the user does.
inline void chooseRow(MainWindow &window, int row)
{
    window.form()->PortSelBox->setCurrentIndex(row);
    emit window.form()->PortSelBox->activated(row);
}

// Waits for discovery to list `row`, picks it and waits for the title.
inline bool connectTo(MainWindow &window, int row = 1)
{
    if (!QTest::qWaitFor([&] { return window.form()->PortSelBox->count() > row; }, 6000))
        return false;
    chooseRow(window, row);
    return QTest::qWaitFor([&] { return window.windowTitle() != "Zentaval"; }, 2000);
}

inline bool capturing(const MainWindow &window)
{
    return window.session()->scan() == InstrumentSession::Scan::Capturing;
}

inline QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// EyePlot shows this bitmap turned a quarter turn.
inline bool showsBitmap(const MainWindow &window, const QByteArray &bitmap)
{
    const QImage expected = QImage::fromData(bitmap).transformed(QTransform().rotate(90));
    return !expected.isNull()
        && window.form()->EyePlot->pixmap().toImage().convertToFormat(QImage::Format_RGB32)
        == expected.convertToFormat(QImage::Format_RGB32);
}

// Answers the next save dialog with `fileName` (or cancels it when empty), as
// a user types a name; a file that exists is agreed to be replaced.
inline void answerSaveDialog(const QString &fileName, int triesLeft = 30)
{
    QTimer::singleShot(100, [fileName, triesLeft] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (triesLeft > 0)
                answerSaveDialog(fileName, triesLeft - 1);
            return;
        }
        if (!fileName.isEmpty())
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
        QTimer::singleShot(0, dialog, [dialog, fileName] {
            QMetaObject::invokeMethod(dialog, fileName.isEmpty() ? "reject" : "accept");
        });
        QTimer::singleShot(200, [] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->button(QMessageBox::Yes))
                box->button(QMessageBox::Yes)->click();
        });
    });
}

// Opens the context menu as a right click on `widget` does; the menu shown, or null.
inline QMenu *rightClick(QWidget *widget)
{
    const QPoint point(widget->width() / 2, widget->height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, widget->mapToGlobal(point));
    QApplication::sendEvent(widget, &event);
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

// Shows `widget` and waits until it is the active window.
inline bool activate(QWidget *widget)
{
    widget->show();
    widget->activateWindow();
    return QTest::qWaitForWindowActive(widget);
}

// Chooses one of the window's actions from the context menu over EyePlot, or
// presses its shortcut; false when there is no such action or menu.
inline bool choose(MainWindow &window, const char *actionName, bool fromMenu)
{
    auto *action = window.findChild<QAction *>(actionName);
    if (!action)
        return false;
    if (!fromMenu) {
        if (!activate(&window))
            return false;
        QTest::keySequence(&window, action->shortcut());
        return true;
    }
    QMenu *menu = rightClick(window.form()->EyePlot);
    if (menu)
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    return menu;
}

// The open top-level windows of one kind (a trend or compare window).
template<typename Window> QList<Window *> topLevels()
{
    QList<Window *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<Window *>(widget))
            found << window;
    return found;
}

// Answers the next message box with OK and keeps its text.
inline void answerMessageBox(QString *text, int triesLeft = 60)
{
    QTimer::singleShot(50, [text, triesLeft] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *text = box->text();
            box->button(QMessageBox::Ok)->click();
        } else if (triesLeft > 0) {
            answerMessageBox(text, triesLeft - 1);
        }
    });
}

// Keeps a picture among the test run's artefacts (ZENTAVAL_TEST_ARTEFACTS),
// where README's screenshots come from; true when there is nowhere to keep it.
inline bool saveScreenshot(const QImage &picture, const QString &name)
{
    const QString folder = qEnvironmentVariable("ZENTAVAL_TEST_ARTEFACTS");
    return folder.isEmpty() || (QDir().mkpath(folder) && picture.save(QDir(folder).filePath(name)));
}

// Presses Scan and answers the dialog.
inline void scanInto(MainWindow &window, const QString &fileName)
{
    answerSaveDialog(fileName);
    QTest::mouseClick(window.form()->ScanBtn, Qt::LeftButton);
}

} // namespace WindowHarness
