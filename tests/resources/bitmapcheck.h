#ifndef BITMAPCHECK_H
#define BITMAPCHECK_H

#include <QByteArray>
#include <QtTest>

// Reads an unsigned little-endian field of a bitmap file.
inline quint32 bitmapField(const QByteArray &bytes, int offset, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

// Checks the whole layout of an uncompressed 24-bit bottom-up bitmap of the
// given size: every header field, the file length and the zero padding of
// every row. Callers test QTest::currentTestFailed() afterwards.
inline void verifyBitmap24Layout(const QByteArray &bytes, int width, int height)
{
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    const int fileSize = 54 + rowBytes * height;
    QCOMPARE(bytes.size(), fileSize);
    QCOMPARE(bytes.left(2), QByteArray("BM"));
    QCOMPARE(bitmapField(bytes, 2, 4), quint32(fileSize));
    QCOMPARE(bitmapField(bytes, 6, 2), 0u);
    QCOMPARE(bitmapField(bytes, 8, 2), 0u);
    QCOMPARE(bitmapField(bytes, 10, 4), 54u);
    QCOMPARE(bitmapField(bytes, 14, 4), 40u);
    QCOMPARE(qint32(bitmapField(bytes, 18, 4)), width);
    QCOMPARE(qint32(bitmapField(bytes, 22, 4)), height);
    QCOMPARE(bitmapField(bytes, 26, 2), 1u);
    QCOMPARE(bitmapField(bytes, 28, 2), 24u);
    QCOMPARE(bitmapField(bytes, 30, 4), 0u);
    QCOMPARE(bitmapField(bytes, 34, 4), 0u);
    QCOMPARE(bitmapField(bytes, 38, 4), 3780u);
    QCOMPARE(bitmapField(bytes, 42, 4), 3780u);
    QCOMPARE(bitmapField(bytes, 46, 4), 0u);
    QCOMPARE(bitmapField(bytes, 50, 4), 0u);
    for (int row = 0; row < height; ++row) {
        for (int pad = width * 3; pad < rowBytes; ++pad) {
            const int offset = 54 + row * rowBytes + pad;
            QVERIFY2(bytes.at(offset) == 0,
                     qPrintable(QStringLiteral("padding byte at %1 (row %2) is not zero").arg(offset).arg(row)));
        }
    }
}

#endif // BITMAPCHECK_H
