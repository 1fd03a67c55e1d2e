// MainWindow's instrument link: discovery of instruments on the serial ports,
// the watch over ports that come and go, and the connection to the chosen
// (or returning) instrument.

#include "rules/delays.h"
#include "window/mainwindow.h"
#include "window/processstate.h"
#include "window/mainwindowui.h"
#include "rules/discovery.h"
#include "rules/identification.h"
#include "io/linesettings.h"
#include "io/serialports.h"
#include "rules/pollmode.h"

#include <QFileInfo>
#include <QPixmap>
#include <QTimer>

namespace {

QStringList locations(const QList<SerialPortEntry> &ports)
{
    QStringList result;
    for (const SerialPortEntry &port : ports)
        result << port.systemLocation;
    return result;
}

Discovery::PortIdentity identity(const QString &location)
{
    return {location, QFileInfo(location).canonicalFilePath()};
}

} // namespace

// Opens a port with the line settings the system holds for it (or those the
// user asked for): opening would otherwise impose Qt's own.
bool MainWindow::openPort(QSerialPort &port, const SerialPortEntry &entry)
{
    port.setPortName(entry.systemLocation);
    applyLineSettings(port, m_ports->lineSettings(entry));
    return port.open(QIODevice::ReadWrite);
}

int MainWindow::Discover()
{
    collectProbeAnswer();

    // The port probed before stays open until the next probe (or a choice).
    if (m_probePort.isOpen())
        m_probePort.close();
    if (m_link == Link::None && Port.isOpen() && !m_pendingProbes.isEmpty())
        Port.close();

    // Port is the probe's until an instrument is connected to it.
    QSerialPort &probe = m_link == Link::None ? Port : m_probePort;
    while (!m_pendingProbes.isEmpty()) {
        // A probe would delay the instrument's data: the ports left are
        // looked at once the scan is over.
        if (PollMode == Capturing) {
            QTimer::singleShot(Delay::PortWatch, this, SLOT(WatchPorts()));
            return 0;
        }
        const int index = m_pendingProbes.takeFirst();
        const SerialPortEntry &port = PortList.at(index);
        if (m_link != Link::None
            && !Discovery::mayProbe(identity(port.systemLocation), identity(m_connectedLocation)))
            continue;
        ProbeIndex = index;
        appendLog(port.name);
        const bool busy = m_ports->isBusy(port);
        appendLog(busy ? QStringLiteral(" Busy") : QStringLiteral(" Not busy"));
        if (busy) {
            // Asked again at the next look: the other program may let it go.
            if (!m_busyPorts.contains(index))
                m_busyPorts << index;
            continue;
        }
        m_busyPorts.removeAll(index);
        if (!openPort(probe, port)) {
            // A port that does not open is passed once, like a busy one.
            appendLog(QStringLiteral(" Not opened: ") + probe.errorString());
            continue;
        }
        probe.write("?\r\n");
        m_probing = &probe;
        QTimer::singleShot(Delay::ProbeAnswer, this, SLOT(Discover()));
        return 0;
    }
    finishDiscoveryPass();
    return 0;
}

void MainWindow::collectProbeAnswer()
{
    if (!m_probing)
        return;
    QSerialPort &probe = *m_probing;
    m_probing = nullptr;
    // A port that failed while probed is closed and has no answer.
    const QByteArray answer = probe.isOpen() ? probe.readAll() : QByteArray();
    const SerialPortEntry &port = PortList.at(ProbeIndex);
    const bool lostInstrumentsPort
        = m_link == Link::None && m_connectedRow > 0 && port.systemLocation == m_connectedLocation;
    switch (Discovery::judgeAnswer(answer, FoundCount, lostInstrumentsPort)) {
    case Discovery::Verdict::NoInstrument:
        break;
    case Discovery::Verdict::ListRow:
        ui->PortSelBox->addItem(Identification::discoveryRowText(port.name, answer));
        FoundPorts[FoundCount++] = ProbeIndex;
        ui->PortSelBox->setEnabled(true);
        break;
    case Discovery::Verdict::ListFull:
        appendLog(QStringLiteral(" Not listed: the list is full"));
        break;
    case Discovery::Verdict::Reconnect:
        appendLog(QStringLiteral(" Back: connecting again"));
        connectToRow(m_connectedRow);
        break;
    }
}

// The ports present at start have been looked at (or every port that came
// since): look at the system's ports again in a while.
void MainWindow::finishDiscoveryPass()
{
    DiscoveryOver = true;
    QTimer::singleShot(Delay::PortWatch, this, SLOT(WatchPorts()));
}

void MainWindow::WatchPorts()
{
    // A probe would delay the instrument's data.
    if (PollMode == Capturing) {
        QTimer::singleShot(Delay::PortWatch, this, SLOT(WatchPorts()));
        return;
    }
    const QList<SerialPortEntry> present = m_ports->availablePorts();
    const QStringList now = locations(present);
    const Discovery::PortChanges changes = Discovery::comparePorts(m_present, now);
    m_present = now;

    for (int row : Discovery::rowsToRemove(rowLocations(), changes.vanished, m_connectedRow))
        removeRow(row);

    const QStringList known = locations(PortList);
    for (const QString &location : changes.appeared) {
        qsizetype index = known.indexOf(location);
        if (index < 0) {
            index = PortList.size();
            PortList.append(present.at(now.indexOf(location)));
        }
        if (!m_pendingProbes.contains(int(index)))
            m_pendingProbes << int(index);
    }
    for (int index : std::as_const(m_busyPorts)) {
        if (now.contains(PortList.at(index).systemLocation) && !m_pendingProbes.contains(index))
            m_pendingProbes << index;
    }
    // While the instrument is lost its port is asked again at every look, so
    // that it is found even when it came back between two looks.
    if (m_link == Link::None && m_connectedRow > 0 && now.contains(m_connectedLocation)) {
        const int index = FoundPorts[m_connectedRow];
        if (!m_pendingProbes.contains(index))
            m_pendingProbes << index;
    }
    Discover();
}

QStringList MainWindow::rowLocations() const
{
    QStringList rows {QString()};
    for (int row = 1; row < FoundCount; ++row)
        rows << PortList.at(FoundPorts[row]).systemLocation;
    return rows;
}

void MainWindow::removeRow(int row)
{
    appendLog(ui->PortSelBox->itemText(row) + QStringLiteral(" Gone"));
    ui->PortSelBox->removeItem(row);
    for (int later = row; later + 1 < FoundCount; ++later)
        FoundPorts[later] = FoundPorts[later + 1];
    FoundPorts[--FoundCount] = 0;
    if (m_connectedRow > row)
        --m_connectedRow;
    if (FoundCount == 1 && m_connectedRow == 0)
        ui->PortSelBox->setEnabled(false);
}

void MainWindow::on_PortSelBox_activated(int)
{
    const int row = ui->PortSelBox->currentIndex();
    // Row 0 is the prompt "Select a Device": it stands for no instrument.
    if (row < 1 || row >= FoundCount)
        return;
    connectToRow(row);
}

void MainWindow::connectToRow(int row)
{
    // A probe still waiting on Port has lost its answer to the instrument:
    // its port is probed again with the watch's own port.
    if (m_probing == &Port) {
        m_probing = nullptr;
        m_pendingProbes.prepend(ProbeIndex);
    }
    if (Port.isOpen()) {
        Port.readAll();
        Port.close();
    }
    const SerialPortEntry port = PortList.at(FoundPorts[row]);
    m_connectedRow = row;
    m_connectedLocation = port.systemLocation;
    m_link = Link::Identifying;
    if (!openPort(Port, port)) {
        instrumentLost(Port.errorString());
        return;
    }
    ui->LEDCOM->setToolTip(QString());
    ui->LEDCOM->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LED_Green.png")));
    ui->PortSelBox->setCurrentIndex(row);
    ui->PortSelBox->setEnabled(false);
    Port.readAll();
    Port.write("?\r\n");
    QTimer::singleShot(Delay::IdentificationAnswer, this, SLOT(ReceiveInfo()));
    ui->AboutBtn->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ReceiveInfo()
{
    // The instrument was lost before it answered.
    if (m_link != Link::Identifying)
        return;
    m_link = Link::Polling;
    const QByteArray answer = Port.readAll();
    setWindowTitle(Identification::windowTitle(answer));
    Port.write("read\r\n");
    if (!m_sinceFirstRead.isValid())
        m_sinceFirstRead.start();
    armPass(PollInterval);
    emit instrumentConnected(Identification::instrumentIdentification(answer), m_connectedLocation,
                             lineSettingsText(m_connectedLocation));
}
