#include "window/mainwindowmenu.h"

#include "window/mainwindow.h"
#include "rules/proposedfiles.h"
#include "window/mainwindowui.h"
#include "window/savedialog.h"
#include "window/trendwindow.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>

MainWindowMenu::MainWindowMenu(MainWindow *window)
    : QObject(window)
    , m_window(window)
    , m_menu(new QMenu(window))
{
    setObjectName(QStringLiteral("MainWindowMenu"));
    connect(addEntry(QStringLiteral("trendAction"), tr("Trend"), QKeySequence(Qt::CTRL | Qt::Key_T)),
            &QAction::triggered, this, &MainWindowMenu::showTrend);
    connect(
        addEntry(QStringLiteral("copyPictureAction"), tr("Copy Picture"), QKeySequence(Qt::CTRL | Qt::Key_C)),
        &QAction::triggered, this, &MainWindowMenu::copyPicture);
    connect(addEntry(QStringLiteral("savePictureAction"), tr("Save Picture As..."),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)),
            &QAction::triggered, this, &MainWindowMenu::savePictureAs);
    m_logEntry = addEntry(QStringLiteral("logAction"), QString(), QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(m_logEntry, &QAction::triggered, this, &MainWindowMenu::startOrStopLog);
    // The log may also have been started on the command line, or stopped by a
    // failed write.
    connect(m_menu, &QMenu::aboutToShow, this, &MainWindowMenu::showLogState);
    showLogState();

    // Children pass on a right click they do not use, and disabled ones every
    // right click, so the port list is told apart by where it lies.
    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        const QWidget *portList = m_window->form()->PortSelBox;
        if (!portList->geometry().contains(portList->parentWidget()->mapFrom(m_window, position)))
            m_menu->popup(m_window->mapToGlobal(position));
    });

    // The trend follows the instrument from its first connection, whether its
    // window is open or not.
    connect(window, &MainWindow::instrumentConnected, this,
            [this](const QString &identification, const QString &device) {
                trendWindow()->instrumentConnected(identification, device);
            });
}

QAction *MainWindowMenu::addEntry(const QString &name, const QString &text, const QKeySequence &shortcut)
{
    auto *action = new QAction(text, m_window);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    // Shown beside the entry; the window holds the action, so the shortcut
    // works while the window is active.
    action->setShortcutVisibleInContextMenu(true);
    m_window->addAction(action);
    m_menu->addAction(action);
    return action;
}

TrendWindow *MainWindowMenu::trendWindow()
{
    if (!m_trendWindow) {
        // The limits of the command line are set by the time of the first
        // connection or menu entry.
        m_trendWindow = new TrendWindow(m_window->measurementLimits(), m_window);
        connect(m_window, &MainWindow::measurementAccepted, m_trendWindow, &TrendWindow::addReading);
        connect(m_window, &MainWindow::instrumentWentAway, m_trendWindow, &TrendWindow::instrumentLost);
    }
    return m_trendWindow;
}

void MainWindowMenu::showTrend()
{
    TrendWindow *trend = trendWindow();
    trend->show();
    trend->raise();
    trend->activateWindow();
}

QImage MainWindowMenu::picture() const
{
    return m_window->form()->EyePlot->pixmap().toImage();
}

void MainWindowMenu::copyPicture()
{
    QGuiApplication::clipboard()->setImage(picture());
}

bool MainWindowMenu::savePicture(const QImage &picture, const QString &fileName, QString *error)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const QByteArray format = suffix == QLatin1String("bmp")                ? "BMP"
        : suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") ? "JPEG"
                                                                            : "PNG";
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, format);
    if (format == "JPEG")
        writer.setQuality(95);
    if (!writer.write(picture)) {
        *error = writer.errorString();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

void MainWindowMenu::savePictureAs()
{
    // Taken now: the picture may change while the dialog is open.
    const QImage shown = picture();
    const QString chosen = askSaveFileName(
        m_window, tr("Save Picture As"),
        ProposedFiles::timestampedFile(ProposedFiles::picturesFolder(), QDateTime::currentDateTime(),
                                       QStringLiteral("png")),
        tr("PNG pictures (*.png);;BMP pictures (*.bmp);;JPEG pictures (*.jpg *.jpeg)"));
    if (chosen.isEmpty())
        return;
    QString error;
    if (!savePicture(shown, chosen, &error))
        QMessageBox::warning(m_window, tr("Save Picture As"),
                             tr("The picture could not be saved to %1:\n%2").arg(chosen, error));
}

void MainWindowMenu::startOrStopLog()
{
    if (!m_window->measurementLogFile().isEmpty()) {
        m_window->stopMeasurementLog();
        showLogState();
        return;
    }
    // The log appends to a file that exists, so the dialog does not offer to
    // replace it.
    const QString chosen = askSaveFileName(
        m_window, tr("Log Measurements (appended to the file)"),
        ProposedFiles::timestampedFile(ProposedFiles::documentsFolder(), QDateTime::currentDateTime(),
                                       QStringLiteral("csv")),
        tr("CSV files (*.csv);;JSON Lines files (*.jsonl)"), QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return;
    QString error;
    if (!m_window->startMeasurementLog(chosen, &error))
        QMessageBox::warning(m_window, tr("Log Measurements"),
                             tr("The measurement log %1 cannot be opened:\n%2").arg(chosen, error));
    showLogState();
}

void MainWindowMenu::showLogState()
{
    const QString file = m_window->measurementLogFile();
    m_logEntry->setText(file.isEmpty() ? tr("Log Measurements...")
                                       : tr("Stop Logging (%1)").arg(QFileInfo(file).fileName()));
}
