#pragma once

#include <QString>
#include <QtGlobal>

// How far a capture has come, on standard error: a bar redrawn in place on a
// terminal, else one line each time another tenth has arrived.
class CaptureProgress
{
public:
    CaptureProgress(bool shown, bool terminal);

    void update(qint64 received, qint64 announced);
    // Ends the bar's line.
    void finish();

    // Percent of the size the bitmap announced or, before it is known, as
    // the window's progress bar counts.
    static int percent(qint64 received, qint64 announced);
    static QString bar(qint64 received, qint64 announced);

private:
    bool m_shown;
    bool m_terminal;
    int m_lastPercent = -1;
    bool m_drawn = false;
};
