#include "window/mainwindow.h"

#include "io/capturefile.h"
#include "io/instrumentsession.h"
#include "io/httpserver.h"
#include "io/labview.h"
#include "io/scpiserver.h"
#include "io/serialports.h"
#include "io/sessionlog.h"
#include "rules/dragguard.h"
#include "rules/identification.h"
#include "window/aboutbx.h"
#include "window/eyeplotoverlay.h"
#include "window/fonts.h"
#include "window/mainwindowmenu.h"
#include "window/mainwindowui.h"
#include "window/picturecomparison.h"
#include "window/savedialog.h"
#include "window/trendwindow.h"

#include <QMessageBox>
#include <QPixmap>
#include <QTextCursor>

namespace {

// The diagnostic box keeps this many lines: losses, probes and captures
// over weeks add far more, and only the last ones tell what happened.
constexpr int LogLinesKept = 300;

QString lockLampPicture(LockLamp lamp)
{
    switch (lamp) {
    case LockLamp::Green:
        return QStringLiteral(":/new/prefix1/LED_Green.png");
    case LockLamp::Yellow:
        return QStringLiteral(":/new/prefix1/LED_Yellow.png");
    case LockLamp::Grey:
        break;
    }
    return QStringLiteral(":/new/prefix1/LED_Grey.png");
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : MainWindow(std::make_unique<SystemSerialPorts>(), parent)
{
}

MainWindow::MainWindow(std::unique_ptr<SerialPortProvider> ports, QWidget *parent)
    : QMainWindow(parent)
    , ui(new MainWindowUi)
    , m_session(new InstrumentSession(std::move(ports), InstrumentSession::Pace::Window, this))
    , m_remoteControl(new ScpiServer(m_session, this))
    , m_http(new HttpServer(new LabView(this), this))
    , m_httpPort(HttpServer::DefaultPort)
{
    registerFontSubstitutes();
    ui->setupUi(this);
    setFixedSize(size());
    ui->PortSelBox->addItem(tr("Select a Device"));
    ui->ResultsBox->document()->setMaximumBlockCount(LogLinesKept);
    compose();
    m_session->start();
}

MainWindow::~MainWindow()
{
    delete ui;
}

// Who observes whom: the form shows the session, the log and the trend
// window follow it, EyePlot's overlay draws the reference outline and the
// mask's judgement of the live eye, the comparison follows the pictures
// shown, the menu holds the window's own actions. Each is handed what it
// uses; none reaches into another.
void MainWindow::compose()
{
    InstrumentSession *session = m_session;
    // While the user works the port list the chain of passes ends.
    session->setChainInterrupted([this] { return ui->PortSelBox->hasFocus(); });

    connect(session, &InstrumentSession::diagnostic, this, &MainWindow::appendLog);
    connect(session, &InstrumentSession::instrumentListed, this, [this](const QString &rowText) {
        ui->PortSelBox->addItem(rowText);
        ui->PortSelBox->setEnabled(true);
    });
    connect(session, &InstrumentSession::instrumentRemoved, this, [this](int row) {
        ui->PortSelBox->removeItem(row);
        if (m_session->rowCount() == 0 && m_session->connectedRow() == 0)
            ui->PortSelBox->setEnabled(false);
    });
    connect(session, &InstrumentSession::linkOpened, this, &MainWindow::showLinkOpened);
    connect(session, &InstrumentSession::connected, this, &MainWindow::showConnected);
    connect(session, &InstrumentSession::passStarted, ui->spinBox, &QSpinBox::setValue);
    connect(session, &InstrumentSession::readingAccepted, this,
            [this](const MeasurementReading &reading) { showReading(reading); });
    connect(session, &InstrumentSession::capturePictureChanged, this,
            [this](const QImage &picture) { ui->EyePlot->setPixmap(QPixmap::fromImage(picture)); });
    connect(session, &InstrumentSession::captureProgressed, ui->ScanProgressBar, &QProgressBar::setValue);
    connect(session, &InstrumentSession::captureFailed, this, &MainWindow::showCaptureError);
    connect(session, &InstrumentSession::scanEnded, this, &MainWindow::showScanEnded);
    // A scan withdrawn before it began (a client's CAPT:ABOR) shows no more.
    connect(session, &InstrumentSession::scanWithdrawn, ui->ScanningLabel, &QLabel::clear);
    connect(session, &InstrumentSession::lost, this, &MainWindow::showLost);

    // The trend follows the instrument from its first connection, whether
    // its window is open or not.
    connect(session, &InstrumentSession::connected, this,
            [this](const QString &identification, const QString &device, const QString &lineSettings) {
                trendWindow()->instrumentConnected(identification, device, lineSettings);
            });
    connect(session, &InstrumentSession::readingAccepted, this,
            [this](const MeasurementReading &, const MeasurementRow &row) {
                if (m_trend)
                    m_trend->addReading(row);
            });
    connect(session, &InstrumentSession::lost, this, [this](const QString &reason) {
        if (m_trend)
            m_trend->instrumentLost(reason);
    });

    // A remote client's capture is the Scan button's, into the file the Scan
    // dialog would propose, without the dialog.
    m_remoteControl->setCaptureStarter([this] {
        return requestScan(
            Capture::proposedCaptureFile(m_session->captureFileName(), QDateTime::currentDateTime()));
    });

    m_http->view()->addSession(m_session);

    auto *overlay = new EyePlotOverlay(ui->EyePlot, session, this);
    auto *comparison = new PictureComparison(session, ui->EyePlot, overlay,
                                             [session] { return session->limits(); }, this);
    MenuParts menu;
    menu.window = this;
    menu.portList = ui->PortSelBox;
    menu.eyePlot = ui->EyePlot;
    menu.session = session;
    menu.comparison = comparison;
    menu.trendWindow = [this] { return trendWindow(); };
    menu.logFile = [this] { return measurementLogFile(); };
    menu.startLog = [this](const QString &fileName, QString *error) { return startMeasurementLog(fileName, error); };
    menu.stopLog = [this] { stopMeasurementLog(); };
    menu.remoteControl = [this] { return remoteControl(); };
    menu.startRemoteControl = [this](QString *error) { return startRemoteControl(error); };
    menu.stopRemoteControl = [this] { stopRemoteControl(); };
    menu.remoteAddress = [this] { return m_remoteAddress; };
    menu.remotePort = [this] { return m_remotePort; };
    menu.httpServer = [this] { return httpServer(); };
    menu.startHttp = [this](QString *error) { return startHttp(error); };
    menu.stopHttp = [this] { stopHttp(); };
    menu.httpAddress = [this] { return m_httpAddress; };
    menu.httpPort = [this] { return m_httpPort; };
    new MainWindowMenu(menu);
}

void MainWindow::setRemoteControlAddress(const QHostAddress &address, quint16 port)
{
    m_remoteAddress = address;
    m_remotePort = port;
}

bool MainWindow::startRemoteControl(QString *error)
{
    if (m_remoteControl->isListening())
        return true;
    if (m_remoteControl->listen(m_remoteAddress, m_remotePort))
        return true;
    if (error)
        *error = m_remoteControl->errorString();
    return false;
}

void MainWindow::stopRemoteControl()
{
    m_remoteControl->close();
}

ScpiServer *MainWindow::remoteControl() const
{
    return m_remoteControl->isListening() ? m_remoteControl : nullptr;
}

void MainWindow::setHttpAddress(const QHostAddress &address, quint16 port, const QByteArray &token)
{
    m_httpAddress = address;
    m_httpPort = port;
    m_http->setToken(token);
}

bool MainWindow::startHttp(QString *error)
{
    if (m_http->isListening() || m_http->listen(m_httpAddress, m_httpPort))
        return true;
    if (error)
        *error = m_http->errorString();
    return false;
}

void MainWindow::stopHttp()
{
    m_http->close();
}

HttpServer *MainWindow::httpServer() const
{
    return m_http->isListening() ? m_http : nullptr;
}

void MainWindow::setMeasurementLimits(const MeasurementLimits &limits)
{
    m_session->setLimits(limits);
}

MeasurementLimits MainWindow::measurementLimits() const
{
    return m_session->limits();
}

TrendWindow *MainWindow::trendWindow()
{
    // The limits of the command line are set by the time of the first
    // connection or menu entry.
    if (!m_trend)
        m_trend = new TrendWindow(m_session->limits(), this);
    return m_trend;
}

bool MainWindow::startMeasurementLog(const QString &fileName, QString *error)
{
    auto *log = new SessionLog(m_session, QStringLiteral("zentaval"), this);
    if (!log->open(fileName, logFormatForFileName(fileName), error)) {
        delete log;
        return false;
    }
    stopMeasurementLog();
    m_log = log;
    connect(log, &SessionLog::writeFailed, this, &MainWindow::logWriteFailed);
    return true;
}

void MainWindow::stopMeasurementLog()
{
    delete m_log;
}

QString MainWindow::measurementLogFile() const
{
    return m_log ? m_log->fileName() : QString();
}

// A log that cannot be written (disk full, file system gone) is said so at
// once; the log has stopped.
void MainWindow::logWriteFailed(const QString &fileName, const QString &reason)
{
    const QString text
        = tr("The measurement log %1 could not be written: %2\nLogging has stopped.").arg(fileName, reason);
    m_log->deleteLater();
    m_log = nullptr;
    appendLog(QStringLiteral(" Log stopped: ") + text);
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Zentaval"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

#ifdef Q_OS_WIN
#include <qt_windows.h>

bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    if (eventType == "windows_generic_MSG")
        m_session->setDragGuard(DragGuardRule::next(m_session->dragGuard(), static_cast<MSG *>(message)->message));
    return QMainWindow::nativeEvent(eventType, message, result);
}
#endif

void MainWindow::on_PortSelBox_activated(int)
{
    // Row 0 is the prompt "Select a Device": it stands for no instrument.
    m_session->connectToRow(ui->PortSelBox->currentIndex());
}

void MainWindow::on_ScanBtn_clicked()
{
    if (m_session->scan() == InstrumentSession::Scan::Capturing) {
        m_session->stopScan();
        return;
    }

    // A cancelled dialog changes nothing: a scan already requested keeps its file.
    const QString chosen = askSaveFileName(
        this, tr("Open Log File"),
        Capture::proposedCaptureFile(m_session->captureFileName(), QDateTime::currentDateTime()),
        tr("Image Files (*.bmp)"));
    if (chosen.isEmpty())
        return;

    requestScan(chosen);
}

QString MainWindow::requestScan(const QString &chosen)
{
    const bool pending = m_session->scan() == InstrumentSession::Scan::Requested;
    const QString error = m_session->requestScan(chosen, Capture::templateFileName());
    if (!error.isEmpty()) {
        // A request already pending keeps the file it was given.
        if (pending)
            ui->ScanningLabel->setToolTip(tr("%1 could not be used: %2\nThe requested scan goes to %3.")
                                              .arg(chosen, error, m_session->captureFileName()));
        else
            showCaptureError(chosen, error);
        return error;
    }
    ui->ScanningLabel->setToolTip(QString());
    ui->ScanningLabel->setText(tr("Scanning..."));
    return QString();
}

void MainWindow::on_AboutBtn_clicked()
{
    auto *about = new AboutBx(this);
    // Each press opens another dialog; a closed one is gone, so that pressing
    // Info all day does not keep every dialog (and its licence text) alive.
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
}

void MainWindow::showLinkOpened(int row)
{
    ui->LEDCOM->setToolTip(QString());
    ui->LEDCOM->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LED_Green.png")));
    ui->PortSelBox->setCurrentIndex(row);
    ui->PortSelBox->setEnabled(false);
    ui->AboutBtn->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showConnected()
{
    setWindowTitle(Identification::windowTitle(m_session->identificationAnswer()));
}

void MainWindow::showReading(const MeasurementReading &reading)
{
    const MeasurementLabels labels = labelTexts(reading);
    ui->LEDStat->setPixmap(QPixmap(lockLampPicture(reading.lamp)));
    ui->QFactorLabel->setText(labels.quality);
    ui->AmplitudeBar->setValue(reading.amplitudeBar);
    ui->VoltageLabel->setText(labels.amplitude);
    ui->HeightLabel->setText(labels.eyeHeight);
    ui->WidthLabel->setText(labels.eyeWidth);
    ui->RateLabel->setText(labels.rate);
}

void MainWindow::showCaptureError(const QString &fileName, const QString &reason)
{
    ui->ScanningLabel->setText(tr("Not saved"));
    ui->ScanningLabel->setToolTip(tr("The capture could not be written to %1: %2").arg(fileName, reason));
}

void MainWindow::showScanEnded(const Capture::ScanOutcome &outcome, const QString &captureError)
{
    // A capture that could not be saved keeps saying so after the scan.
    if (!captureError.isEmpty())
        return;
    if (outcome.complete) {
        ui->ScanningLabel->clear();
        return;
    }
    // The file holds what arrived; the rest is still the blank template.
    ui->ScanningLabel->setText(tr("Incomplete"));
    ui->ScanningLabel->setToolTip(Capture::incompleteCaptureText(m_session->captureFileName(), outcome)
                                  + QLatin1Char('.'));
}

void MainWindow::showLost(const QString &reason)
{
    ui->LEDCOM->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LED_Red.png")));
    ui->LEDCOM->setToolTip(tr("The connection to the instrument was lost (%1).\n"
                              "It is connected again by itself once it answers on its port;\n"
                              "you can also choose it in the list.")
                               .arg(reason));
    ui->LEDStat->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LED_Grey.png")));
    ui->PortSelBox->setEnabled(true);
}

// ResultsBox is a log of port names: append them as plain text, one paragraph
// each, whatever characters they hold.
void MainWindow::appendLog(const QString &line)
{
    QTextDocument *log = ui->ResultsBox->document();
    QTextCursor cursor(log);
    cursor.movePosition(QTextCursor::End);
    if (!log->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
}
