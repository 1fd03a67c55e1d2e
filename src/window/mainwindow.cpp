#include "window/mainwindow.h"

#include "rules/delays.h"
#include "rules/dragguard.h"
#include "window/mainwindowmenu.h"
#include "window/processstate.h"
#include "window/aboutbx.h"
#include "window/fonts.h"
#include "window/mainwindowui.h"
#include "io/serialports.h"
#include "io/measurementlog.h"
#include "rules/pollmode.h"

#include <QPixmap>
#include <QTextCursor>
#include <QTimer>

namespace {
constexpr qint64 MaximumBytesPerPass = 1024 * 1024;
// The log keeps this many lines: losses, probes and captures over weeks add
// far more, and only the last ones tell what happened.
constexpr int LogLinesKept = 300;
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : MainWindow(std::make_unique<SystemSerialPorts>(), parent)
{
}

MainWindow::MainWindow(std::unique_ptr<SerialPortProvider> ports, QWidget *parent)
    : QMainWindow(parent)
    , ui(new MainWindowUi)
    , m_ports(std::move(ports))
{
    registerFontSubstitutes();
    ui->setupUi(this);
    setFixedSize(size());
    PollInterval = Delay::PollInterval;
    ui->PortSelBox->addItem(tr("Select a Device"));
    ui->ResultsBox->document()->setMaximumBlockCount(LogLinesKept);
    PortList = m_ports->availablePorts();
    for (int index = 0; index < PortList.size(); ++index) {
        m_present << PortList.at(index).systemLocation;
        m_pendingProbes << index;
    }
    connect(&Port, &QSerialPort::errorOccurred, this, &MainWindow::onPortError);
    connect(&m_probePort, &QSerialPort::errorOccurred, this, &MainWindow::onPortError);
    // A faulty instrument that floods the line is read no faster than the
    // passes take its bytes; far more than a whole capture fits.
    Port.setReadBufferSize(MaximumBytesPerPass);
    m_probePort.setReadBufferSize(MaximumBytesPerPass);
    // Precise: a coarse timer may fire the 8 s wait for the first capture
    // bytes up to 400 ms early.
    m_nextPass.setSingleShot(true);
    m_nextPass.setTimerType(Qt::PreciseTimer);
    connect(&m_nextPass, &QTimer::timeout, this, &MainWindow::ReceiveMeas);
    connect(this, &MainWindow::instrumentConnected, this, &MainWindow::logConnection);
    connect(this, &MainWindow::measurementAccepted, this, &MainWindow::logMeasurement);
    connect(this, &MainWindow::instrumentWentAway, this, &MainWindow::logLoss);
    new MainWindowMenu(this);
    QTimer::singleShot(Delay::FirstDiscovery, this, SLOT(Discover()));
}

MainWindow::~MainWindow()
{
    delete ui;
}

#ifdef Q_OS_WIN
#include <qt_windows.h>

bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    if (eventType == "windows_generic_MSG")
        DragGuard = DragGuardRule::next(DragGuard, static_cast<MSG *>(message)->message);
    return QMainWindow::nativeEvent(eventType, message, result);
}
#endif

void MainWindow::on_AboutBtn_clicked()
{
    auto *about = new AboutBx(this);
    // Each press opens another dialog; a closed one is gone, so that pressing
    // Info all day does not keep every dialog (and its licence text) alive.
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
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

void MainWindow::onPortError(QSerialPort::SerialPortError error)
{
    // A port that failed to open is dealt with where it was opened.
    if (!isFatalPortError(error))
        return;
    if (sender() == &m_probePort) {
        // A port that went away while probed has no answer.
        m_probePort.close();
        return;
    }
    if (Port.isOpen())
        instrumentLost(Port.errorString());
}

void MainWindow::instrumentLost(const QString &reason)
{
    // Capture bytes that arrived before the loss are the capture's too:
    // they go into the file before the port, and its buffer, are closed.
    if (PollMode == Capturing && m_link == Link::Polling && Port.isOpen()) {
        const QByteArray waiting = Port.readAll();
        if (!waiting.isEmpty())
            takeCaptureBytes(waiting);
    }
    Port.close();
    if (m_link == Link::None)
        return;
    m_link = Link::None;

    appendLog(QStringLiteral(" Lost: ") + reason);
    ui->LEDCOM->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LED_Red.png")));
    ui->LEDCOM->setToolTip(tr("The connection to the instrument was lost (%1).\n"
                              "It is connected again by itself once it answers on its port;\n"
                              "you can also choose it in the list.")
                               .arg(reason));
    ui->LEDStat->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LED_Grey.png")));
    // The capture file already holds every piece that arrived.
    if (PollMode == Capturing)
        leaveCapturing();
    // The instrument's row stays listed: the watch over the ports reconnects
    // it when it answers again, and choosing it reconnects at once.
    ui->PortSelBox->setEnabled(true);
    emit instrumentWentAway(reason);
}
