// Discovery of instruments on the serial ports and the connection to the
// chosen one: the MainWindow slots of the instrument link.

#include "app/mainwindow.h"
#include "app/processstate.h"
#include "forms/mainwindowui.h"
#include "instrument/identification.h"
#include "instrument/serialports.h"

#include <QPixmap>
#include <QTimer>

int MainWindow::Discover()
{
    // A row chosen meanwhile owns Port from then on.
    if (DiscoveryOver)
        return 0;

    if (m_probeSent) {
        m_probeSent = false;
        // A port that failed while probed is closed and has no answer.
        const QByteArray answer = Port.isOpen() ? Port.readAll() : QByteArray();
        if (Identification::identifiesInstrument(answer)) {
            if (FoundCount < FoundPortsSize) {
                ui->PortSelBox->addItem(
                    Identification::discoveryRowText(PortList.at(ProbeIndex).name, answer));
                FoundPorts[FoundCount++] = ProbeIndex;
                ui->PortSelBox->setEnabled(true);
            } else {
                appendLog(QStringLiteral(" Not listed: the list is full"));
            }
        }
        ++ProbeIndex;
        if (ProbeIndex >= PortList.size()) {
            // Port stays open on the last port probed until a row is chosen.
            DiscoveryOver = true;
            return 0;
        }
    }

    if (Port.isOpen())
        Port.close();
    while (ProbeIndex < PortList.size()) {
        const SerialPortEntry &port = PortList.at(ProbeIndex);
        appendLog(port.name);
        const bool busy = m_ports->isBusy(port);
        appendLog(busy ? QStringLiteral(" Busy") : QStringLiteral(" Not busy"));
        if (!busy) {
            Port.setPortName(port.systemLocation);
            if (Port.open(QIODevice::ReadWrite)) {
                Port.write("?\r\n");
                m_probeSent = true;
                QTimer::singleShot(1000, this, SLOT(Discover()));
                return 0;
            }
            // A port that does not open is passed once, like a busy one.
            appendLog(QStringLiteral(" Not opened: ") + Port.errorString());
        }
        ++ProbeIndex;
    }
    DiscoveryOver = true;
    return 0;
}

void MainWindow::on_PortSelBox_activated(int)
{
    const int row = ui->PortSelBox->currentIndex();
    // Row 0 is the prompt "Select a Device": it stands for no instrument.
    if (row < 1 || row >= FoundCount)
        return;
    DiscoveryOver = true;
    m_probeSent = false;

    if (Port.isOpen()) {
        Port.readAll();
        Port.close();
    }
    Port.setPortName(PortList.at(FoundPorts[row]).systemLocation);
    m_link = Link::Identifying;
    if (!Port.open(QIODevice::ReadWrite)) {
        instrumentLost(Port.errorString());
        return;
    }
    ui->LEDCOM->setToolTip(QString());
    ui->LEDCOM->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LED_Green.png")));
    ui->PortSelBox->setEnabled(false);
    Port.readAll();
    Port.write("?\r\n");
    QTimer::singleShot(400, this, SLOT(ReceiveInfo()));
    ui->AboutBtn->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ReceiveInfo()
{
    // The instrument was lost before it answered.
    if (m_link != Link::Identifying)
        return;
    m_link = Link::Polling;
    setWindowTitle(Identification::windowTitle(Port.readAll()));
    Port.write("read\r\n");
    armPass(PollInterval);
}
