#pragma once

#include "cli/clicommand.h"
#include "io/picturefile.h"
#include "rules/eyemask.h"

#include <QByteArray>
#include <QString>

// zentaval-cli mask: capture pictures judged by an eye mask, the eye found
// in each, its hits and margin, as the window judges its live eye; an
// annotated picture on request. capture --mask prints its capture's result
// with maskReport() too.
class MaskCommand : public CliCommand
{
    Q_OBJECT

public:
    explicit MaskCommand(const CliOptions &options, QObject *parent = nullptr);

    void start() override;
    void stop() override;

private:
    int judgeFile(const QString &fileName, const EyeMask::Mask &mask);

    CliOptions m_options;
};

// The values a mask in ps or mV is placed with: a picture's text entries
// ("rate_mbps", "amplitude_mv"), each replaced by --rate and --amplitude
// when given.
EyeMask::Scale pictureScale(const PictureFile::TextEntries &entries, const CliOptions &options);

// The verdict: the mask's (at most --max-hits hits), and a margin of
// --min-margin or more when that is given.
bool maskPasses(const EyeMask::Result &result, const CliOptions &options);

// What mask prints for one picture: "name: value" lines, or one JSON object
// with "picture", "mask", "left_crossing_px", "right_crossing_px", "ui_px",
// "one_level_px", "zero_level_px", "crossing_pct", "hits", "margin_pct",
// "pass" and "hits_per_polygon" (null for what is not known).
QByteArray maskReport(const QString &picture, const EyeMask::Result &result, const QString &hitRate,
                      bool pass, MaskFormat format);

// A mask as zentaval-cli names it (a shipped name or a file), or the reason
// it is none, said on standard error.
std::optional<EyeMask::Mask> loadMaskOrSay(const QString &nameOrFile);
