#include "cli/captureprogress.h"

#include "rules/capture.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr int BarWidth = 30;
}

CaptureProgress::CaptureProgress(bool shown, bool terminal)
    : m_shown(shown)
    , m_terminal(terminal)
{
}

int CaptureProgress::percent(qint64 received, qint64 announced)
{
    if (announced < Capture::BitmapHeaderSize)
        return Capture::progressValue(received);
    return int(std::clamp<qint64>(received * 100 / announced, 0, 100));
}

QString CaptureProgress::bar(qint64 received, qint64 announced)
{
    const int done = percent(received, announced) * BarWidth / 100;
    const QString of
        = announced >= Capture::BitmapHeaderSize ? QStringLiteral(" of %1").arg(announced) : QString();
    return QStringLiteral("[%1%2] %3 % (%4%5 bytes)")
        .arg(QString(done, QLatin1Char('#')), QString(BarWidth - done, QLatin1Char('.')))
        .arg(percent(received, announced), 3)
        .arg(received)
        .arg(of);
}

void CaptureProgress::update(qint64 received, qint64 announced)
{
    if (!m_shown)
        return;
    const int now = percent(received, announced);
    if (m_terminal) {
        if (now == m_lastPercent)
            return;
        std::fprintf(stderr, "\r%s", qPrintable(bar(received, announced)));
        m_drawn = true;
    } else {
        if (now / 10 <= std::max(m_lastPercent, 0) / 10)
            return;
        std::fprintf(stderr, "capture: %d %% (%lld bytes)\n", now, received);
    }
    std::fflush(stderr);
    m_lastPercent = now;
}

void CaptureProgress::finish()
{
    if (m_drawn)
        std::fprintf(stderr, "\n");
    m_drawn = false;
}
