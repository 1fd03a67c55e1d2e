#pragma once

#include <QImage>
#include <QObject>

class MainWindow;
class QAction;
class QMenu;

// The main window's context menu (a right click anywhere but on the port
// list) and its shortcuts, which work while the window is active: the trend
// window, the eye picture to the clipboard or to a file, the measurement
// log and remote control. Nothing of the form moves for them.
class MainWindowMenu : public QObject
{
    Q_OBJECT

public:
    explicit MainWindowMenu(MainWindow *window);

public slots:
    void showTrend();
    void copyPicture();
    void savePictureAs();
    // Asks for a file and starts the measurement log, or stops it.
    void startOrStopLog();
    // Starts serving the instrument to SCPI clients, or stops it.
    void startOrStopRemoteControl();

private:
    QAction *addEntry(const QString &name, const QString &text, const QKeySequence &shortcut);
    // The eye as EyePlot shows it: the capture turned a quarter turn, at its
    // own 239 x 254 pixels rather than the label's scaled size.
    QImage picture() const;
    // Writes the picture as PNG, or as BMP or JPEG when the name ends so; on
    // failure says why. A file of that name is replaced only once the
    // picture is written whole.
    static bool savePicture(const QImage &picture, const QString &fileName, QString *error);
    void showLogState();
    void showRemoteControlState();

    MainWindow *m_window;
    QMenu *m_menu;
    QAction *m_logEntry;
    QAction *m_remoteEntry;
};
