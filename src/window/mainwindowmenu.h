#pragma once

#include "io/picturefile.h"
#include "rules/eyemask.h"

#include <QHostAddress>
#include <QImage>
#include <QObject>
#include <QPointer>

#include <functional>

class CompareWindow;
class InstrumentSession;
class PictureComparison;
class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class HttpServer;
class ScpiServer;
class TrendWindow;

// What the menu acts on, handed over by MainWindow::compose().
struct MenuParts
{
    QWidget *window = nullptr;   // holds the actions and the menu
    QWidget *portList = nullptr; // a right click on it is the list's own
    QLabel *eyePlot = nullptr;
    InstrumentSession *session = nullptr;
    PictureComparison *comparison = nullptr;
    std::function<TrendWindow *()> trendWindow;
    // The measurement log: its file (empty while none is written), started
    // (false, with the reason) and stopped.
    std::function<QString()> logFile;
    std::function<bool(const QString &fileName, QString *error)> startLog;
    std::function<void()> stopLog;
    // Remote control: the server while it serves (else null), started (false,
    // with the reason) and stopped, and the address it listens on.
    std::function<ScpiServer *()> remoteControl;
    std::function<bool(QString *error)> startRemoteControl;
    std::function<void()> stopRemoteControl;
    std::function<QHostAddress()> remoteAddress;
    std::function<quint16()> remotePort;
    // The HTTP endpoint (page and metrics), in the same way.
    std::function<HttpServer *()> httpServer;
    std::function<bool(QString *error)> startHttp;
    std::function<void()> stopHttp;
    std::function<QHostAddress()> httpAddress;
    std::function<quint16()> httpPort;
};

// The main window's context menu (a right click anywhere but on the port
// list) and its shortcuts, which work while the window is active: the trend
// window, the eye picture to the clipboard or to a file, the measurement
// log, remote control, the reference eye the live one is compared with, and
// the mask it is judged by. Nothing of the form moves for them.
class MainWindowMenu : public QObject
{
    Q_OBJECT

public:
    explicit MainWindowMenu(const MenuParts &parts);

public slots:
    void showTrend();
    void copyPicture();
    void savePictureAs();
    // Asks for a file and starts the measurement log, or stops it.
    void startOrStopLog();
    void setReferenceFromShown();
    // Asks for a capture file (BMP or PNG) and makes it the reference.
    void openReference();
    void clearReference();
    void showReferenceOutline(bool shown);
    // Opens the compare window, or brings it to the front.
    void showCompare();
    // Starts serving the instrument to SCPI clients, or stops it.
    void startOrStopRemoteControl();
    // Starts serving the instrument over HTTP (page, metrics), or stops it.
    void startOrStopHttp();
    // Pops the Mask submenu up over EyePlot (Ctrl+M).
    void popUpMaskMenu();
    // Asks for a mask file and puts it in use; a file that is no mask is
    // refused with its line and reason, and the mask in use stays.
    void openMaskFile();

private:
    QAction *addEntry(const QString &name, const QString &text, const QKeySequence &shortcut);
    // The eye as EyePlot shows it: the capture turned a quarter turn, at its
    // own 239 x 254 pixels rather than the label's scaled size.
    QImage picture() const;
    // Writes the picture as PNG with the context's text entries, or as BMP
    // or JPEG when the name ends so; on failure says why. A file of that name
    // is replaced only once the picture is written whole.
    static bool savePicture(const QImage &picture, const QString &fileName,
                            const PictureFile::PictureContext &context, QString *error);
    void showLogState();
    void showRemoteControlState();
    void showHttpState();
    void addMaskMenu();
    void chooseShippedMask(const QString &name);
    // Checks the entry of the mask the session uses.
    void showMaskState();

    MenuParts m_parts;
    QWidget *m_window;
    QMenu *m_menu;
    QAction *m_logEntry;
    PictureComparison *m_comparison;
    QPointer<CompareWindow> m_compareWindow;
    QAction *m_remoteEntry;
    QAction *m_httpEntry;
    QMenu *m_maskMenu;
    QActionGroup *m_maskEntries;
    QAction *m_noMaskEntry;
    QAction *m_fileMaskEntry; // a mask read from a file, shown while it is in use
};
