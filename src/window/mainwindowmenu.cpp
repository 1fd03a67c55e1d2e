#include "window/mainwindowmenu.h"

#include "window/mainwindow.h"
#include "io/httpserver.h"
#include "io/scpiserver.h"
#include "rules/proposedfiles.h"
#include "window/comparewindow.h"
#include "window/mainwindowui.h"
#include "window/picturecomparison.h"
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
    , m_comparison(new PictureComparison(window))
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
    m_remoteEntry = addEntry(QStringLiteral("remoteControlAction"), QString(), QKeySequence(Qt::CTRL | Qt::Key_R));
    m_remoteEntry->setCheckable(true);
    connect(m_remoteEntry, &QAction::triggered, this, &MainWindowMenu::startOrStopRemoteControl);
    // Serving may also have been started on the command line.
    connect(m_menu, &QMenu::aboutToShow, this, &MainWindowMenu::showRemoteControlState);
    showRemoteControlState();
    m_httpEntry = addEntry(QStringLiteral("httpAction"), QString(), QKeySequence());
    m_httpEntry->setCheckable(true);
    connect(m_httpEntry, &QAction::triggered, this, &MainWindowMenu::startOrStopHttp);
    connect(m_menu, &QMenu::aboutToShow, this, &MainWindowMenu::showHttpState);
    showHttpState();

    m_menu->addSeparator();
    connect(addEntry(QStringLiteral("setReferenceAction"), tr("Set as Reference"),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)),
            &QAction::triggered, this, &MainWindowMenu::setReferenceFromShown);
    connect(addEntry(QStringLiteral("openReferenceAction"), tr("Open Reference..."), QKeySequence()),
            &QAction::triggered, this, &MainWindowMenu::openReference);
    connect(addEntry(QStringLiteral("clearReferenceAction"), tr("Clear Reference"), QKeySequence()),
            &QAction::triggered, this, &MainWindowMenu::clearReference);
    QAction *outline = addEntry(QStringLiteral("referenceOutlineAction"), tr("Show Reference Outline"),
                                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    outline->setCheckable(true);
    connect(outline, &QAction::toggled, this, &MainWindowMenu::showReferenceOutline);
    connect(addEntry(QStringLiteral("compareAction"), tr("Compare"), QKeySequence(Qt::CTRL | Qt::Key_K)),
            &QAction::triggered, this, &MainWindowMenu::showCompare);

    // Children pass on a right click they do not use, and disabled ones every
    // right click, so the port list is told apart by where it lies.
    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        const QWidget *portList = m_window->form()->PortSelBox;
        if (!portList->geometry().contains(portList->parentWidget()->mapFrom(m_window, position)))
            m_menu->popup(m_window->mapToGlobal(position));
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

void MainWindowMenu::showTrend()
{
    TrendWindow *trend = m_window->trendWindow();
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

bool MainWindowMenu::savePicture(const QImage &picture, const QString &fileName,
                                 const PictureFile::PictureContext &context, QString *error)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const QByteArray format = suffix == QLatin1String("bmp")                ? "BMP"
        : suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") ? "JPEG"
                                                                            : "PNG";
    if (format == "PNG")
        return PictureFile::savePng(picture, fileName, context, error);
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
    const PictureFile::PictureContext context = m_comparison->contextNow();
    const QString chosen = askSaveFileName(
        m_window, tr("Save Picture As"),
        ProposedFiles::timestampedFile(ProposedFiles::picturesFolder(), QDateTime::currentDateTime(),
                                       QStringLiteral("png")),
        tr("PNG pictures (*.png);;BMP pictures (*.bmp);;JPEG pictures (*.jpg *.jpeg)"));
    if (chosen.isEmpty())
        return;
    QString error;
    if (!savePicture(shown, chosen, context, &error))
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

void MainWindowMenu::setReferenceFromShown()
{
    m_comparison->setReferenceFromShown();
}

void MainWindowMenu::openReference()
{
    const QString chosen
        = QFileDialog::getOpenFileName(m_window, tr("Open Reference"), ProposedFiles::picturesFolder(),
                                       tr("Capture pictures (*.bmp *.png);;All files (*)"));
    if (chosen.isEmpty())
        return;
    QString error;
    if (!m_comparison->setReferenceFromFile(chosen, &error))
        QMessageBox::warning(m_window, tr("Open Reference"),
                             tr("The reference was not changed:\n%1").arg(error));
}

void MainWindowMenu::clearReference()
{
    m_comparison->clearReference();
}

void MainWindowMenu::showReferenceOutline(bool shown)
{
    m_comparison->setOutlineShown(shown);
}

void MainWindowMenu::showCompare()
{
    if (!m_compareWindow)
        m_compareWindow = new CompareWindow(m_comparison, m_window);
    m_compareWindow->show();
    m_compareWindow->raise();
    m_compareWindow->activateWindow();
}

void MainWindowMenu::startOrStopRemoteControl()
{
    if (m_window->remoteControl()) {
        m_window->stopRemoteControl();
        showRemoteControlState();
        return;
    }
    QString error;
    if (!m_window->startRemoteControl(&error)) {
        showRemoteControlState();
        QMessageBox::warning(m_window, tr("Remote Control"),
                             tr("Remote control cannot listen on %1:\n%2")
                                 .arg(listenAddressText(m_window->remoteControlAddress(),
                                                        m_window->remoteControlPort()),
                                      error));
        return;
    }
    showRemoteControlState();
}

void MainWindowMenu::showRemoteControlState()
{
    ScpiServer *server = m_window->remoteControl();
    m_remoteEntry->setChecked(server != nullptr);
    if (!server) {
        m_remoteEntry->setText(tr("Remote Control"));
        return;
    }
    connect(server, &ScpiServer::clientCountChanged, this, &MainWindowMenu::showRemoteControlState,
            Qt::UniqueConnection);
    const QString address = listenAddressText(m_window->remoteControlAddress(), m_window->remoteControlPort());
    const QString clients = server->clientCount() == 1 ? tr("1 client") : tr("%1 clients").arg(server->clientCount());
    m_remoteEntry->setText(reachesBeyondThisMachine(m_window->remoteControlAddress())
                               ? tr("Remote Control (%1, %2; no authentication)").arg(address, clients)
                               : tr("Remote Control (%1, %2)").arg(address, clients));
}

void MainWindowMenu::startOrStopHttp()
{
    QString error;
    if (m_window->httpServer())
        m_window->stopHttp();
    else if (!m_window->startHttp(&error))
        QMessageBox::warning(m_window, tr("Web Page and Metrics"),
                             tr("The web page and metrics cannot be served on %1:\n%2")
                                 .arg(listenAddressText(m_window->httpAddress(), m_window->httpPort()), error));
    showHttpState();
}

void MainWindowMenu::showHttpState()
{
    HttpServer *server = m_window->httpServer();
    m_httpEntry->setChecked(server != nullptr);
    if (!server) {
        m_httpEntry->setText(tr("Web Page and Metrics"));
        return;
    }
    const QString address = listenAddressText(m_window->httpAddress(), server->serverPort());
    m_httpEntry->setText(reachesBeyondThisMachine(m_window->httpAddress()) && !server->requiresToken()
                             ? tr("Web Page and Metrics (http://%1/; no token)").arg(address)
                             : tr("Web Page and Metrics (http://%1/)").arg(address));
}
