#pragma once

#include <QMainWindow>
#include <QSerialPort>

#include <memory>

class MainWindowUi;
class SerialPortProvider;

// The program's one window. It owns the form, the one serial port and the
// chain of one-shot passes that discover, connect to, poll and scan the
// instrument. Every slot runs on the GUI thread and never waits for the port.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Ports come from the system and from the device paths given on the
    // command line.
    explicit MainWindow(QWidget *parent = nullptr);
    // Ports come from the given provider.
    explicit MainWindow(std::unique_ptr<SerialPortProvider> ports, QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindowUi *form() const { return ui; }

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#endif

private slots:
    void on_PortSelBox_activated(int row);
    void ReceiveInfo();
    int ReceiveMeas();
    int Discover();
    void on_AboutBtn_clicked();
    void on_ScanBtn_clicked();
    void onPortError(QSerialPort::SerialPortError error);

private:
    // Where the link to the chosen instrument stands.
    enum class Link { None, Identifying, Polling };

    void armPass(int delay);
    void instrumentLost(const QString &reason);
    void appendLog(const QString &line);
    void monitoringPass(const QByteArray &buffer, qint64 available);
    void capturingPass(const QByteArray &buffer);
    void writeCapturePiece(const QByteArray &piece, qint64 offset);
    void endScan();
    void leaveCapturing();
    void showCaptureError(const QString &reason);

    MainWindowUi *ui;
    QSerialPort Port;
    int PollInterval = 500;
    std::unique_ptr<SerialPortProvider> m_ports;
    Link m_link = Link::None;
    bool m_probeSent = false; // discovery has written "?\r\n" and not yet collected the answer
    int m_armedPasses = 0;    // ReceiveMeas() calls armed and not yet run
};
