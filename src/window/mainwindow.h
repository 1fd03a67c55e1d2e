#pragma once

#include "rules/capture.h"
#include "rules/measurementrow.h"

#include <QHostAddress>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class HttpServer;
class InstrumentSession;
class ScpiServer;
class MainWindowUi;
class SerialPortProvider;
class SessionLog;
class TrendWindow;

// The program's one window. The instrument lives in its InstrumentSession;
// the window shows what the session tells it and passes on what the user
// asks. compose() is where the session, the form, the measurement log, the
// trend window and the menu are connected to each other.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Ports come from the system alone.
    explicit MainWindow(QWidget *parent = nullptr);
    // Ports come from the given provider.
    explicit MainWindow(std::unique_ptr<SerialPortProvider> ports, QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindowUi *form() const { return ui; }
    InstrumentSession *session() const { return m_session; }

    // Limits every accepted reading is judged against (--min-height,
    // --min-width, --min-amplitude, --require-lock).
    void setMeasurementLimits(const MeasurementLimits &limits);
    MeasurementLimits measurementLimits() const;

    // The measurement log (--log, or the menu): every accepted reading from
    // now on is appended to fileName, with a comment block for the
    // instrument and lines for its losses and returns. False, with the
    // reason, when the file cannot be opened.
    bool startMeasurementLog(const QString &fileName, QString *error = nullptr);
    void stopMeasurementLog();
    // The file being written, or an empty string.
    QString measurementLogFile() const;

    // Asks for a scan into fileName and shows it as asked for ("Scanning...",
    // or why the file cannot be used): the Scan button's request and a
    // remote client's. Returns why the scan was not asked for, or an empty
    // string.
    QString requestScan(const QString &fileName);

    // Remote control: the instrument served to SCPI clients on the address
    // set (127.0.0.1:5025 unless --listen said otherwise).
    void setRemoteControlAddress(const QHostAddress &address, quint16 port);
    QHostAddress remoteControlAddress() const { return m_remoteAddress; }
    quint16 remoteControlPort() const { return m_remotePort; }
    // False, with the reason, when the address cannot be listened on.
    bool startRemoteControl(QString *error = nullptr);
    void stopRemoteControl();
    // The server while it serves, else null.
    ScpiServer *remoteControl() const;

    // The HTTP endpoint (--http, or the menu): the instrument served read-only
    // to browsers and Prometheus on the address set (127.0.0.1:10731 unless
    // --http said otherwise), with the token every request must then carry.
    void setHttpAddress(const QHostAddress &address, quint16 port, const QByteArray &token = QByteArray());
    QHostAddress httpAddress() const { return m_httpAddress; }
    quint16 httpPort() const { return m_httpPort; }
    // False, with the reason, when the address cannot be listened on.
    bool startHttp(QString *error = nullptr);
    void stopHttp();
    // The server while it serves, else null.
    HttpServer *httpServer() const;

    // "Zentaval Trend": made at the first connection, or when first asked
    // for; it lives as long as the main window.
    TrendWindow *trendWindow();

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#endif

private slots:
    // Bound by name to the form's widgets.
    void on_PortSelBox_activated(int row);
    void on_ScanBtn_clicked();
    void on_AboutBtn_clicked();

private:
    void compose();
    void showLinkOpened(int row);
    void showConnected();
    void showReading(const MeasurementReading &reading);
    void showCaptureError(const QString &fileName, const QString &reason);
    void showScanEnded(const Capture::ScanOutcome &outcome, const QString &captureError);
    void showLost(const QString &reason);
    void logWriteFailed(const QString &fileName, const QString &reason);
    void appendLog(const QString &line);

    MainWindowUi *ui;
    InstrumentSession *m_session;
    QPointer<SessionLog> m_log;
    QPointer<TrendWindow> m_trend;
    ScpiServer *m_remoteControl;
    QHostAddress m_remoteAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 m_remotePort = 5025;
    HttpServer *m_http;
    QHostAddress m_httpAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 m_httpPort;
};
