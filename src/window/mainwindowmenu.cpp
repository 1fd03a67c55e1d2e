#include "window/mainwindowmenu.h"

#include "io/httpserver.h"
#include "io/instrumentsession.h"
#include "io/maskfile.h"
#include "io/scpiserver.h"
#include "rules/proposedfiles.h"
#include "window/comparewindow.h"
#include "window/picturecomparison.h"
#include "window/savedialog.h"
#include "window/trendwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>

namespace {

bool sameMask(const EyeMask::Mask &a, const EyeMask::Mask &b)
{
    return a.name == b.name && a.reference == b.reference && a.xScale == b.xScale && a.yScale == b.yScale
        && a.polygons == b.polygons && a.hitRate == b.hitRate;
}

} // namespace

MainWindowMenu::MainWindowMenu(const MenuParts &parts)
    : QObject(parts.window)
    , m_parts(parts)
    , m_window(parts.window)
    , m_menu(new QMenu(parts.window))
    , m_comparison(parts.comparison)
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

    m_menu->addSeparator();
    addMaskMenu();

    // Children pass on a right click they do not use, and disabled ones every
    // right click, so the port list is told apart by where it lies.
    m_window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_window, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        const QWidget *portList = m_parts.portList;
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
    TrendWindow *trend = m_parts.trendWindow();
    trend->show();
    trend->raise();
    trend->activateWindow();
}

QImage MainWindowMenu::picture() const
{
    return m_parts.eyePlot->pixmap().toImage();
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
    if (!m_parts.logFile().isEmpty()) {
        m_parts.stopLog();
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
    if (!m_parts.startLog(chosen, &error))
        QMessageBox::warning(m_window, tr("Log Measurements"),
                             tr("The measurement log %1 cannot be opened:\n%2").arg(chosen, error));
    showLogState();
}

void MainWindowMenu::showLogState()
{
    const QString file = m_parts.logFile();
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
    if (m_parts.remoteControl()) {
        m_parts.stopRemoteControl();
        showRemoteControlState();
        return;
    }
    QString error;
    if (!m_parts.startRemoteControl(&error)) {
        showRemoteControlState();
        QMessageBox::warning(m_window, tr("Remote Control"),
                             tr("Remote control cannot listen on %1:\n%2")
                                 .arg(listenAddressText(m_parts.remoteAddress(), m_parts.remotePort()),
                                      error));
        return;
    }
    showRemoteControlState();
}

void MainWindowMenu::showRemoteControlState()
{
    ScpiServer *server = m_parts.remoteControl();
    m_remoteEntry->setChecked(server != nullptr);
    if (!server) {
        m_remoteEntry->setText(tr("Remote Control"));
        return;
    }
    connect(server, &ScpiServer::clientCountChanged, this, &MainWindowMenu::showRemoteControlState,
            Qt::UniqueConnection);
    const QString address = listenAddressText(m_parts.remoteAddress(), m_parts.remotePort());
    const QString clients = server->clientCount() == 1 ? tr("1 client") : tr("%1 clients").arg(server->clientCount());
    m_remoteEntry->setText(reachesBeyondThisMachine(m_parts.remoteAddress())
                               ? tr("Remote Control (%1, %2; no authentication)").arg(address, clients)
                               : tr("Remote Control (%1, %2)").arg(address, clients));
}

void MainWindowMenu::startOrStopHttp()
{
    QString error;
    if (m_parts.httpServer())
        m_parts.stopHttp();
    else if (!m_parts.startHttp(&error))
        QMessageBox::warning(m_window, tr("Web Page and Metrics"),
                             tr("The web page and metrics cannot be served on %1:\n%2")
                                 .arg(listenAddressText(m_parts.httpAddress(), m_parts.httpPort()), error));
    showHttpState();
}

void MainWindowMenu::showHttpState()
{
    HttpServer *server = m_parts.httpServer();
    m_httpEntry->setChecked(server != nullptr);
    if (!server) {
        m_httpEntry->setText(tr("Web Page and Metrics"));
        return;
    }
    const QString address = listenAddressText(m_parts.httpAddress(), server->serverPort());
    m_httpEntry->setText(reachesBeyondThisMachine(m_parts.httpAddress()) && !server->requiresToken()
                             ? tr("Web Page and Metrics (http://%1/; no token)").arg(address)
                             : tr("Web Page and Metrics (http://%1/)").arg(address));
}

// "Mask": None, each shipped mask by name, a mask read from a file while it
// is in use, and Open Mask File...; the entry of the mask in use is checked,
// whoever chose it (this menu, --mask or a remote client).
void MainWindowMenu::addMaskMenu()
{
    m_maskMenu = new QMenu(tr("Mask"), m_window);
    m_maskMenu->setObjectName(QStringLiteral("maskMenu"));
    QAction *opener = m_maskMenu->menuAction();
    opener->setObjectName(QStringLiteral("maskAction"));
    opener->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    opener->setShortcutVisibleInContextMenu(true);
    // Its shortcut pops the submenu up; chosen in the menu, the submenu opens
    // as any does and the action is not triggered.
    m_window->addAction(opener);
    connect(opener, &QAction::triggered, this, &MainWindowMenu::popUpMaskMenu);
    m_menu->addMenu(m_maskMenu);

    m_maskEntries = new QActionGroup(m_maskMenu);
    const auto addChoice = [this](const QString &name, const QString &text) {
        QAction *entry = m_maskMenu->addAction(text);
        entry->setObjectName(name);
        entry->setCheckable(true);
        m_maskEntries->addAction(entry);
        return entry;
    };
    m_noMaskEntry = addChoice(QStringLiteral("noMaskAction"), tr("None"));
    connect(m_noMaskEntry, &QAction::triggered, this, [this] { m_parts.session->setMask(std::nullopt); });
    for (const QString &name : MaskFile::shippedNames()) {
        QAction *entry = addChoice(QStringLiteral("maskAction_") + name, name);
        entry->setData(name);
        connect(entry, &QAction::triggered, this, [this, name] { chooseShippedMask(name); });
    }
    m_fileMaskEntry = addChoice(QStringLiteral("fileMaskAction"), QString());
    m_fileMaskEntry->setVisible(false);
    m_maskMenu->addSeparator();
    QAction *open = m_maskMenu->addAction(tr("Open Mask File..."));
    open->setObjectName(QStringLiteral("openMaskAction"));
    connect(open, &QAction::triggered, this, &MainWindowMenu::openMaskFile);

    connect(m_parts.session, &InstrumentSession::maskChanged, this, &MainWindowMenu::showMaskState);
    showMaskState();
}

void MainWindowMenu::popUpMaskMenu()
{
    const QWidget *eyePlot = m_parts.eyePlot;
    m_maskMenu->popup(eyePlot->mapToGlobal(QPoint(eyePlot->width() / 4, eyePlot->height() / 4)));
}

void MainWindowMenu::chooseShippedMask(const QString &name)
{
    const MaskFile::Loaded loaded = MaskFile::load(name);
    if (!loaded.mask) {
        showMaskState();
        QMessageBox::warning(m_window, tr("Mask"),
                             tr("The mask %1 cannot be used:\n%2\nThe mask in use stays.").arg(name, loaded.error));
        return;
    }
    m_parts.session->setMask(loaded.mask);
}

void MainWindowMenu::openMaskFile()
{
    const QString chosen = QFileDialog::getOpenFileName(m_window, tr("Open Mask File"), QString(),
                                                        tr("Mask files (*.yaml *.yml);;All files (*)"));
    if (chosen.isEmpty())
        return;
    const MaskFile::Loaded loaded = MaskFile::read(chosen);
    if (!loaded.mask) {
        QMessageBox::warning(m_window, tr("Open Mask File"),
                             tr("%1 is no mask file:\n%2\nThe mask in use stays.").arg(chosen, loaded.error));
        return;
    }
    m_parts.session->setMask(loaded.mask);
}

void MainWindowMenu::showMaskState()
{
    const std::optional<EyeMask::Mask> mask = m_parts.session->mask();
    m_fileMaskEntry->setVisible(false);
    if (!mask) {
        m_noMaskEntry->setChecked(true);
        return;
    }
    for (QAction *entry : m_maskEntries->actions()) {
        if (entry->data().isNull())
            continue;
        const MaskFile::Loaded shipped = MaskFile::load(entry->data().toString());
        if (shipped.mask && sameMask(*shipped.mask, *mask)) {
            entry->setChecked(true);
            return;
        }
    }
    m_fileMaskEntry->setText(tr("%1 (from a file)").arg(mask->name));
    m_fileMaskEntry->setVisible(true);
    m_fileMaskEntry->setChecked(true);
}
