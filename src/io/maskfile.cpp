#include "io/maskfile.h"

#include "io/picturefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <string>

namespace MaskFile {

namespace {

// A mask file is read whole; no mask needs more.
constexpr qint64 LargestFile = 1024 * 1024;

// Why a text is no mask, at the line of the node that says so.
struct Refusal
{
    int line;
    QString reason;
};

int lineOf(const YAML::Node &node)
{
    const YAML::Mark mark = node.IsDefined() ? node.Mark() : YAML::Mark::null_mark();
    return mark.is_null() ? 1 : mark.line + 1;
}

[[noreturn]] void refuse(const YAML::Node &at, const QString &reason)
{
    throw Refusal {lineOf(at), reason};
}

QString text(const YAML::Node &node)
{
    return QString::fromStdString(node.Scalar());
}

// The text of a mapping's member when it is there and a scalar. A missing
// member is an invalid node that throws when asked its type.
std::optional<QString> scalarMember(const YAML::Node &map, const char *key)
{
    const YAML::Node value = map[key];
    if (!value.IsDefined() || !value.IsScalar())
        return std::nullopt;
    return text(value).trimmed();
}

// The member `key` of a mapping, which must be there; `parent` is where a
// missing one is reported.
YAML::Node member(const YAML::Node &parent, const char *key, const QString &reasonWhenMissing)
{
    const YAML::Node value = parent[key];
    if (!value.IsDefined() || value.IsNull())
        refuse(parent, reasonWhenMissing);
    return value;
}

double number(const YAML::Node &node, const char *name)
{
    bool ok = false;
    const double value = node.IsScalar() ? text(node).trimmed().toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(value))
        refuse(node, QStringLiteral("%1 is no number").arg(QLatin1String(name)));
    // Far beyond any eye: placed and grown it would no longer be a number.
    if (std::abs(value) > 1e9)
        refuse(node, QStringLiteral("%1 is out of range").arg(QLatin1String(name)));
    return value;
}

EyeMask::Mask mask(const YAML::Node &root)
{
    if (!root.IsMap())
        refuse(root, QStringLiteral("no mask file: a mapping of protocol, units and mask is expected"));
    EyeMask::Mask result;

    const YAML::Node protocol = root["protocol"];
    if (protocol.IsDefined() && !protocol.IsNull()) {
        if (!protocol.IsMap())
            refuse(protocol, QStringLiteral("protocol is a mapping of name and reference"));
        result.name = scalarMember(protocol, "name").value_or(QString());
        result.reference = scalarMember(protocol, "reference").value_or(QString());
    }

    const YAML::Node units = member(root, "units", QStringLiteral("no units (xscale and yscale)"));
    if (!units.IsMap())
        refuse(units, QStringLiteral("units is a mapping of xscale and yscale"));
    const YAML::Node xScale = member(units, "xscale", QStringLiteral("units need an xscale (ui or ps)"));
    const QString x = text(xScale).trimmed().toLower();
    if (x == QLatin1String("ui"))
        result.xScale = EyeMask::XScale::UnitIntervals;
    else if (x == QLatin1String("ps"))
        result.xScale = EyeMask::XScale::Picoseconds;
    else
        refuse(xScale, QStringLiteral("unknown xscale \"%1\" (ui or ps)").arg(text(xScale)));
    const YAML::Node yScale
        = member(units, "yscale", QStringLiteral("units need a yscale (mv, v or amplitude)"));
    const QString y = text(yScale).trimmed().toLower();
    if (y == QLatin1String("amplitude"))
        result.yScale = EyeMask::YScale::Amplitudes;
    else if (y == QLatin1String("mv"))
        result.yScale = EyeMask::YScale::Millivolts;
    else if (y == QLatin1String("v"))
        result.yScale = EyeMask::YScale::Volts;
    else
        refuse(yScale, QStringLiteral("unknown yscale \"%1\" (mv, v or amplitude)").arg(text(yScale)));

    const YAML::Node polygons = member(root, "mask", QStringLiteral("no mask list"));
    if (!polygons.IsSequence() || polygons.size() == 0)
        refuse(polygons, QStringLiteral("the mask is a list of polygons"));
    for (const YAML::Node &polygon : polygons) {
        if (!polygon.IsMap())
            refuse(polygon, QStringLiteral("a polygon needs points"));
        const YAML::Node points = member(polygon, "points", QStringLiteral("a polygon needs points"));
        if (!points.IsSequence())
            refuse(points, QStringLiteral("points are a list of x and y"));
        EyeMask::MaskPolygon corners;
        for (const YAML::Node &point : points) {
            if (!point.IsMap() || !point["x"].IsDefined() || !point["y"].IsDefined() || point["x"].IsNull()
                || point["y"].IsNull())
                refuse(point, QStringLiteral("a point needs x and y"));
            corners.append(QPointF(number(point["x"], "x"), number(point["y"], "y")));
        }
        if (corners.size() < 3)
            refuse(points, QStringLiteral("a polygon needs at least 3 points"));
        result.polygons.append(corners);
    }

    const YAML::Node conditions = root["conditions"];
    if (conditions.IsDefined() && conditions.IsMap())
        result.hitRate = scalarMember(conditions, "hitrate").value_or(QString());
    return result;
}

} // namespace

Loaded parse(const QByteArray &yaml)
{
    Loaded loaded;
    try {
        loaded.mask = mask(YAML::Load(yaml.toStdString()));
    } catch (const Refusal &refusal) {
        loaded.error = QStringLiteral("line %1: %2").arg(refusal.line).arg(refusal.reason);
    } catch (const YAML::Exception &error) {
        loaded.error = QStringLiteral("line %1: %2")
                           .arg(error.mark.is_null() ? 1 : error.mark.line + 1)
                           .arg(QString::fromStdString(error.msg));
    }
    return loaded;
}

Loaded read(const QString &fileName)
{
    Loaded loaded;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return loaded;
    }
    if (file.size() > LargestFile) {
        loaded.error = QStringLiteral("too large for a mask file (%1 bytes)").arg(file.size());
        return loaded;
    }
    loaded = parse(file.readAll());
    if (loaded.mask && loaded.mask->name.isEmpty())
        loaded.mask->name = QFileInfo(fileName).completeBaseName();
    return loaded;
}

QString shippedFolder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath()
                           + QStringLiteral("/../share/zentaval/masks"));
}

QStringList shippedNames()
{
    QStringList names;
    const QFileInfoList files
        = QDir(shippedFolder())
              .entryInfoList({QStringLiteral("*.yaml")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo &file : files)
        names.append(file.completeBaseName());
    return names;
}

Loaded load(const QString &nameOrFile)
{
    if (shippedNames().contains(nameOrFile))
        return read(shippedFolder() + QLatin1Char('/') + nameOrFile + QStringLiteral(".yaml"));
    if (!QFileInfo::exists(nameOrFile)) {
        Loaded loaded;
        loaded.error = QStringLiteral("no mask named \"%1\" (shipped: %2) and no such file")
                           .arg(nameOrFile, shippedNames().join(QStringLiteral(", ")));
        return loaded;
    }
    return read(nameOrFile);
}

EyeMask::Scale scaleOf(const std::optional<MeasurementRow> &reading)
{
    EyeMask::Scale scale;
    if (!reading)
        return scale;
    const auto positive = [](const std::optional<double> &value) {
        return value && std::isfinite(*value) && *value > 0 ? value : std::nullopt;
    };
    scale.rateMbps = positive(MeasurementRow::number(reading->rate));
    scale.amplitudeMv = positive(MeasurementRow::number(reading->amplitude));
    return scale;
}

EyeMask::Result judgePicture(const QImage &shownPicture, const EyeMask::Mask &mask,
                             const EyeMask::Scale &scale, qsizetype maxHits)
{
    return EyeMask::judge(EyeComparison::occupancy(PictureFile::rgbPixels(shownPicture)), mask, scale,
                          maxHits);
}

} // namespace MaskFile
