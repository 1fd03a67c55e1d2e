#pragma once

#include "io/picturefile.h"

#include <QImage>
#include <QObject>
#include <QPointer>

class MainWindow;
class QAction;
class QMenu;
class CompareWindow;
class PictureComparison;

// The main window's context menu (a right click anywhere but on the port
// list) and its shortcuts, which work while the window is active: the trend
// window, the eye picture to the clipboard or to a file, the measurement
// log, remote control, and the reference eye the live one is compared with.
// Nothing of the form moves for them.
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

    MainWindow *m_window;
    QMenu *m_menu;
    QAction *m_logEntry;
    PictureComparison *m_comparison;
    QPointer<CompareWindow> m_compareWindow;
    QAction *m_remoteEntry;
    QAction *m_httpEntry;
};
