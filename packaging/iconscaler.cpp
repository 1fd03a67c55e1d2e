// Scales a picture into a square icon of the given size, centred on a
// transparent background when the picture is not square.
// Usage: zentaval-iconscaler SOURCE SIZE OUTPUT.png

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: zentaval-iconscaler SOURCE SIZE OUTPUT.png\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    const int size = QByteArray(argv[2]).toInt();
    const QString output = QString::fromLocal8Bit(argv[3]);
    if (source.isNull() || size <= 0) {
        std::fprintf(stderr, "zentaval-iconscaler: cannot read %s or bad size %s\n", argv[1], argv[2]);
        return 1;
    }

    const QImage scaled = source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
    painter.end();

    QDir().mkpath(QFileInfo(output).absolutePath());
    if (!icon.save(output, "PNG")) {
        std::fprintf(stderr, "zentaval-iconscaler: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
