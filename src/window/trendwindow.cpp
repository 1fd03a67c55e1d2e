#include "window/trendwindow.h"

#include "rules/proposedfiles.h"
#include "io/measurementlog.h"
#include "window/savedialog.h"
#include "window/trendplot.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>


namespace {

// The figures' columns, as the statistics name them.
enum Figure { Last, Minimum, Maximum, Mean, Count };

QString limitText(const std::optional<double> &limit, const char *unit)
{
    return limit ? QString::number(*limit) + QLatin1Char(' ') + QLatin1String(unit) : QStringLiteral("none");
}

} // namespace

TrendWindow::TrendWindow(const MeasurementLimits &limits, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_limits(limits)
    , m_plot(new TrendPlot(m_history))
    , m_source(new QLabel)
    , m_indicator(new QLabel)
    , m_firstMiss(new QLabel)
{
    setWindowTitle(tr("Zentaval Trend"));
    setObjectName(QStringLiteral("TrendWindow"));
    m_plot->setLimits(m_limits);
    m_source->setObjectName(QStringLiteral("source"));
    m_source->setWordWrap(true);

    // Each series' figures, in its colour.
    auto *figures = new QGridLayout;
    const QStringList headers {tr("Last"), tr("Min"), tr("Max"), tr("Mean"), tr("Count")};
    for (int column = 0; column < headers.size(); ++column)
        figures->addWidget(new QLabel(QStringLiteral("<b>%1</b>").arg(headers.at(column))), 0, column + 1,
                           Qt::AlignRight);
    const QStringList names {tr("Height (UI)"), tr("Width (UI)"), tr("Amplitude (mV)")};
    const QStringList keys {QStringLiteral("height"), QStringLiteral("width"), QStringLiteral("amplitude")};
    const QStringList columnKeys {QStringLiteral("Last"), QStringLiteral("Min"), QStringLiteral("Max"),
                                  QStringLiteral("Mean"), QStringLiteral("Count")};
    for (int series = 0; series < TrendHistory::SeriesCount; ++series) {
        auto *name = new QLabel(names.at(series));
        const QColor color = TrendPlot::seriesColor(TrendHistory::Series(series));
        name->setStyleSheet(QStringLiteral("color: %1; font-weight: bold").arg(color.name()));
        figures->addWidget(name, series + 1, 0);
        for (int column = 0; column < 5; ++column) {
            auto *figure = new QLabel;
            figure->setObjectName(keys.at(series) + columnKeys.at(column));
            figure->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            figures->addWidget(figure, series + 1, column + 1);
            m_figures[series][column] = figure;
        }
    }

    auto *limitsBox = new QGroupBox(tr("Limits"));
    auto *limitsForm = new QFormLayout(limitsBox);
    m_minHeight = addLimitEdit(QStringLiteral("minHeight"), m_limits.minHeight);
    m_minWidth = addLimitEdit(QStringLiteral("minWidth"), m_limits.minWidth);
    m_minAmplitude = addLimitEdit(QStringLiteral("minAmplitude"), m_limits.minAmplitude);
    limitsForm->addRow(tr("Min height (UI):"), m_minHeight);
    limitsForm->addRow(tr("Min width (UI):"), m_minWidth);
    limitsForm->addRow(tr("Min amplitude (mV):"), m_minAmplitude);
    if (m_limits.requireLock)
        limitsForm->addRow(new QLabel(tr("The lock lamp must be green.")));
    connect(m_minHeight, &QLineEdit::editingFinished, this,
            [this] { readLimit(m_minHeight, m_limits.minHeight); });
    connect(m_minWidth, &QLineEdit::editingFinished, this,
            [this] { readLimit(m_minWidth, m_limits.minWidth); });
    connect(m_minAmplitude, &QLineEdit::editingFinished, this,
            [this] { readLimit(m_minAmplitude, m_limits.minAmplitude); });

    m_indicator->setObjectName(QStringLiteral("indicator"));
    m_indicator->setAlignment(Qt::AlignCenter);
    m_indicator->setMinimumHeight(40);
    m_firstMiss->setWordWrap(true);

    auto *resetButton = new QPushButton(tr("Reset"));
    resetButton->setObjectName(QStringLiteral("resetButton"));
    auto *exportButton = new QPushButton(tr("Export CSV..."));
    exportButton->setObjectName(QStringLiteral("exportButton"));
    connect(resetButton, &QPushButton::clicked, this, &TrendWindow::reset);
    connect(exportButton, &QPushButton::clicked, this, &TrendWindow::exportCsvAs);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(resetButton);
    buttons->addWidget(exportButton);

    auto *side = new QVBoxLayout;
    side->addWidget(m_source);
    side->addLayout(figures);
    side->addWidget(limitsBox);
    side->addWidget(m_indicator);
    side->addWidget(m_firstMiss);
    side->addStretch(1);
    side->addLayout(buttons);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_plot, 1);
    layout->addLayout(side);

    showFigures();
    showIndicator();
}

QLineEdit *TrendWindow::addLimitEdit(const QString &name, const std::optional<double> &limit)
{
    auto *edit = new QLineEdit(limit ? QString::number(*limit) : QString());
    edit->setObjectName(name);
    edit->setPlaceholderText(tr("none"));
    edit->setMaximumWidth(100);
    return edit;
}

void TrendWindow::readLimit(QLineEdit *edit, std::optional<double> &limit)
{
    std::optional<double> typed;
    QString error;
    if (!parseLimit(edit->text().trimmed(), typed, &error)) {
        // The limit in force stays until a good one is typed.
        edit->setStyleSheet(QStringLiteral("color: red"));
        edit->setToolTip(error);
        return;
    }
    edit->setStyleSheet(QString());
    edit->setToolTip(QString());
    limit = typed;
    m_plot->setLimits(m_limits);
    showIndicator();
}

void TrendWindow::instrumentConnected(const QString &identification, const QString &device,
                                      const QString &lineSettings)
{
    // Another instrument's readings are no continuation of these.
    if (!m_history.isEmpty() && identification != m_identification)
        reset();
    m_identification = identification;
    m_device = device;
    m_lineSettings = lineSettings;
    // Readings after a loss (or any new connection) leave a gap after the
    // last ones before it.
    m_history.breakLine();
    m_source->setText(tr("%1\non %2").arg(identification, device));
}

void TrendWindow::addReading(const MeasurementRow &row)
{
    MeasurementRow judged = row;
    judged.pass = !m_latch.judge(row, m_limits);
    m_history.add(judged);
    showFigures();
    if (!judged.pass)
        showIndicator();
    m_plot->update();
}

void TrendWindow::instrumentLost(const QString &reason)
{
    m_source->setText(tr("%1\non %2\nlost at %3: %4")
                          .arg(m_identification, m_device,
                               QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")), reason));
}

void TrendWindow::reset()
{
    m_history.clear();
    m_latch.reset();
    showFigures();
    showIndicator();
    m_plot->update();
}

void TrendWindow::showFigures()
{
    for (int series = 0; series < TrendHistory::SeriesCount; ++series) {
        const SeriesStatistics &statistics = m_history.statistics(TrendHistory::Series(series));
        const bool empty = statistics.count() == 0;
        const auto number = [empty](double value, int meanDecimals = -1) {
            if (empty)
                return QStringLiteral("-");
            return meanDecimals < 0 ? QString::number(value) : QString::number(value, 'f', meanDecimals);
        };
        const int meanDecimals = series == TrendHistory::Amplitude ? 1 : 3;
        m_figures[series][Last]->setText(number(statistics.last()));
        m_figures[series][Minimum]->setText(number(statistics.minimum()));
        m_figures[series][Maximum]->setText(number(statistics.maximum()));
        m_figures[series][Mean]->setText(number(statistics.mean(), meanDecimals));
        m_figures[series][Count]->setText(QString::number(statistics.count()));
    }
}

void TrendWindow::showIndicator()
{
    if (m_latch.isLit()) {
        m_indicator->setText(tr("FAIL"));
        m_indicator->setStyleSheet(
            QStringLiteral("background: rgb(220, 0, 0); color: white; font-weight: bold; font-size: 20px"));
        m_firstMiss->setText(
            tr("First miss at %1 (%2).\nReadings that missed since Reset: %3.")
                .arg(m_latch.firstMiss().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                     m_latch.firstMissed().join(QStringLiteral(", ")))
                .arg(m_latch.misses()));
        return;
    }
    const bool anyLimit = m_limits.any();
    m_indicator->setText(anyLimit ? tr("PASS") : tr("No limits"));
    m_indicator->setStyleSheet(
        anyLimit ? QStringLiteral("background: rgb(0, 150, 0); color: white; font-weight: bold; "
                                  "font-size: 20px")
                 : QStringLiteral("background: palette(midlight); font-size: 20px"));
    m_firstMiss->setText(anyLimit ? tr("No reading has missed a limit since Reset.") : QString());
}

bool TrendWindow::exportCsv(const QString &fileName, QString *error) const
{
    // The log's session block, for the readings since Reset, after a line
    // that says what they are and what they were judged against.
    const QString lock = m_limits.requireLock ? QStringLiteral("required") : QStringLiteral("not required");
    QByteArray head
        = QStringLiteral("# trend export %1; limits: min height %2, min width %3, min amplitude %4, "
                         "lock %5\n")
              .arg(logTime(QDateTime::currentDateTimeUtc()), limitText(m_limits.minHeight, "UI"),
                   limitText(m_limits.minWidth, "UI"), limitText(m_limits.minAmplitude, "mV"), lock)
              .toUtf8();
    const QDateTime start = m_history.isEmpty() ? QDateTime::currentDateTimeUtc()
                                                : QDateTime::fromMSecsSinceEpoch(m_history.firstTimeMs(), Qt::UTC);
    const LogSession session
        = logSession(QStringLiteral("zentaval"), m_identification, m_device, m_lineSettings, start);
    // The header row is written by writeTrendCsv, after any folded minutes.
    head += sessionText(session, LogFormat::Csv);

    // Written aside and renamed into place: a failed export leaves any older
    // file of that name as it was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || !writeTrendCsv(file, m_history, head) || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void TrendWindow::exportCsvAs()
{
    const QString chosen = askSaveFileName(
        this, tr("Export CSV"),
        ProposedFiles::timestampedFile(ProposedFiles::documentsFolder(), QDateTime::currentDateTime(),
                                       QStringLiteral("csv")),
        tr("CSV files (*.csv)"));
    if (chosen.isEmpty())
        return;
    QString error;
    if (!exportCsv(chosen, &error))
        QMessageBox::warning(this, tr("Export CSV"),
                             tr("The readings could not be written to %1:\n%2").arg(chosen, error));
}
