#pragma once

#include "cli/clicommand.h"
#include "rules/eyecomparison.h"

// zentaval-cli compare: a current eye picture against a reference (a golden
// unit, or the same board before a change): both open areas, the open
// change and the share of pixels that changed, judged by --max-changed and
// --min-open; the difference as a PNG on request.
class CompareCommand : public CliCommand
{
    Q_OBJECT

public:
    explicit CompareCommand(const CliOptions &options, QObject *parent = nullptr);

    void start() override;
    void stop() override;

private:
    CliOptions m_options;
};

// What compare prints: four lines of text, or one JSON object with
// "reference_open_px", "current_open_px", "open_change_pct" (null when the
// reference has no opening) and "changed_pct".
QByteArray comparisonReport(const EyeComparison::Figures &figures, CompareFormat format);

// Why the figures miss the limits, one reason an entry; none when every limit
// set is met.
QStringList missedCompareLimits(const EyeComparison::Figures &figures, const CliOptions &options);
