#include "io/capturefile.h"
#include "rules/capture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace Capture;

namespace {

// A capture bitmap's start: "BM" and the file size it announces.
QByteArray bitmapStart(quint32 size)
{
    QByteArray start("BM\0\0\0\0", 6);
    qToLittleEndian(size, start.data() + 2);
    return start;
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void placesPiecesAtTheirOffset_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QByteArray>("piece");
        QTest::addColumn<QByteArray>("result");

        QTest::newRow("at the start")
            << QByteArray("abcdef") << qint64(0) << QByteArray("XY") << QByteArray("XYcdef");
        QTest::newRow("inside") << QByteArray("abcdef") << qint64(2) << QByteArray("XY")
                                << QByteArray("abXYef");
        QTest::newRow("crossing the end grows by the excess")
            << QByteArray("abcdef") << qint64(5) << QByteArray("XYZ") << QByteArray("abcdeXYZ");
        QTest::newRow("past the end: gap of spaces")
            << QByteArray("abc") << qint64(5) << QByteArray("XY") << QByteArray("abc  XY");
        QTest::newRow("empty piece") << QByteArray("abc") << qint64(1) << QByteArray() << QByteArray("abc");
    }
    void placesPiecesAtTheirOffset()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, offset);
        QFETCH(QByteArray, piece);
        QFETCH(QByteArray, result);

        // The file the window and the tool write into, piece by piece...
        QTemporaryDir dir;
        const QString name = dir.filePath("capture.bmp");
        QVERIFY(writeFile(name, content));
        const StoredPiece stored = writeCapturePiece(name, offset, piece);
        QVERIFY(stored.opened && stored.error.isEmpty());
        QCOMPARE(readFile(name), result);

        // ...and the capture the tool keeps in memory for a picture file.
        placePiece(content, offset, piece);
        QCOMPARE(content, result);
    }
    void progressAndDelays()
    {
        QCOMPARE(progressValue(1799), 0);
        QCOMPARE(progressValue(90000), 50);
        QCOMPARE(progressValue(180000), 100);
        QCOMPARE(progressValue(CaptureFileSize), 100); // the bar's end, not past it
    }
    void firstPieceIsCutWhicheverPassReadsIt_data()
    {
        QTest::addColumn<int>("emptyPasses");
        QTest::addColumn<QByteArray>("firstPiece");
        QTest::addColumn<QByteArray>("written");

        QTest::newRow("first pass, echo before the bitmap")
            << 0 << QByteArray("SCAN\r\nBM12") << QByteArray("BM12");
        QTest::newRow("first pass, bitmap alone") << 0 << QByteArray("BM12") << QByteArray("BM12");
        QTest::newRow("20th pass") << 19 << QByteArray("SCAN\r\nBM12") << QByteArray("BM12");
        QTest::newRow("21st pass, the last that waits")
            << 20 << QByteArray("SCAN\r\nBM12") << QByteArray("BM12");
        QTest::newRow("B then M later") << 3 << QByteArray("xB yBMz") << QByteArray("BMz");
        QTest::newRow("no signature: dropped") << 20 << QByteArray("SCAN\r\n") << QByteArray();
    }
    void firstPieceIsCutWhicheverPassReadsIt()
    {
        QFETCH(int, emptyPasses);
        QFETCH(QByteArray, firstPiece);
        QFETCH(QByteArray, written);

        ScanProgress progress;
        for (int pass = 0; pass < emptyPasses; ++pass)
            QVERIFY(!decideCapturingPass(progress, {}, 0, 0).endScan);
        CapturingPass pass = decideCapturingPass(progress, firstPiece, 0, 0);
        QVERIFY(pass.writePiece && !pass.endScan);
        QCOMPARE(pass.piece, written);
        QCOMPARE(pass.offset, 0);
        // Later pieces are taken whole, right after the first.
        pass = decideCapturingPass(progress, "SCANBM", 0, 0);
        QCOMPARE(pass.piece, QByteArray("SCANBM"));
        QCOMPARE(pass.offset, written.size());
    }
    void silenceEndsTheScanUnlessTheWindowIsDragged()
    {
        ScanProgress progress;
        for (int pass = 1; pass <= 20; ++pass) {
            QVERIFY(!decideCapturingPass(progress, {}, 0, 0).endScan);
            QVERIFY(!decideCapturingPass(progress, {}, 2, 0).endScan); // a drag does not count
        }
        QVERIFY(decideCapturingPass(progress, {}, 0, 0).endScan); // the 21st empty pass

        ScanProgress streaming;
        decideCapturingPass(streaming, "BM", 0, 0);
        QVERIFY(!decideCapturingPass(streaming, {}, 1, 0).endScan);
        const CapturingPass last = decideCapturingPass(streaming, {}, 0, 0);
        QVERIFY(last.endScan && !last.writePiece && !last.captureTooLong);
    }
    void endlessStreamIsCutAtTheBound()
    {
        ScanProgress progress;
        progress.scanCountdown = 0;
        progress.pieceReceived = true;
        progress.captureOffset = progress.streamBytes = MaximumCaptureBytes - 10;
        const CapturingPass pass = decideCapturingPass(progress, QByteArray(100, 'x'), 0, 0);
        QVERIFY(pass.writePiece && pass.endScan && pass.captureTooLong);
        QCOMPARE(pass.piece.size(), 10);
        QCOMPARE(progress.captureOffset, MaximumCaptureBytes);
    }
    void nothingPastTheAnnouncedEndIsWritten()
    {
        // A 60-byte bitmap, then bytes that keep coming every 500 ms.
        ScanProgress progress;
        CapturingPass pass = decideCapturingPass(progress, bitmapStart(60) + QByteArray(64, 'x'), 0, 1000);
        QCOMPARE(pass.piece, bitmapStart(60) + QByteArray(54, 'x'));
        QCOMPARE(progress.captureOffset, 60);
        QVERIFY(scanOutcome(progress).complete);
        for (qint64 now = 1500; now <= 5000; now += 500) {
            pass = decideCapturingPass(progress, "more", 0, now);
            QVERIFY(!pass.writePiece);
            // Asked to stop once, 2 s after the excess began; ended 2 s later.
            QCOMPARE(pass.sendStop, now == 3000);
            QCOMPARE(pass.endScan, now >= 5000);
        }
        QCOMPARE(progress.captureOffset, 60);
        QCOMPARE(progress.streamBytes, 70 + 8 * 4);

        // A size no bitmap has is no limit.
        ScanProgress tiny;
        pass = decideCapturingPass(tiny, bitmapStart(10) + "abcdefgh", 0, 0);
        QCOMPARE(pass.piece.size(), 14);
    }
    void outcomeComparesWithTheAnnouncedSize()
    {
        ScanProgress progress;
        QVERIFY(!scanOutcome(progress).complete); // nothing came
        QCOMPARE(scanOutcome(progress).announced, -1);

        // The header may come in pieces of any size.
        decideCapturingPass(progress, "SCAN\r\n" + bitmapStart(20).left(3), 0, 0);
        decideCapturingPass(progress, bitmapStart(20).mid(3) + "abcd", 0, 0);
        ScanOutcome outcome = scanOutcome(progress);
        QCOMPARE(outcome.announced, 20);
        QCOMPARE(outcome.received, 10);
        QVERIFY(!outcome.complete);
        decideCapturingPass(progress, QByteArray(10, 'x'), 0, 0);
        QVERIFY(scanOutcome(progress).complete);
        QCOMPARE(announcedBitmapSize("XX" + bitmapStart(20).mid(2)), -1);
    }
    void captureFileIsPreparedFromAGoodTemplateOnly()
    {
        QTemporaryDir dir;
        const QByteArray blank = readFile(templateFileName());
        QCOMPARE(templateProblem(blank), QString());
        const QString good = dir.filePath("blankcapture.bmp");
        QVERIFY(writeFile(good, blank));

        // An existing file is replaced whole: no tail of it stays.
        const QString capture = dir.filePath("eye.bmp");
        QVERIFY(writeFile(capture, QByteArray(300000, 'o')));
        QCOMPARE(prepareCaptureFile(good, capture), QString());
        QCOMPARE(readFile(capture), blank);

        // A template that is missing or of another picture: nothing is written.
        QByteArray wide = blank;
        qToLittleEndian<qint32>(255, wide.data() + 18);
        QByteArray eightBit = blank;
        qToLittleEndian<quint16>(8, eightBit.data() + 28);
        const QString bad = dir.filePath("bad.bmp");
        for (const QByteArray &wrong : {wide, eightBit, blank.left(100000), QByteArray("not a bitmap")}) {
            QVERIFY(!templateProblem(wrong).isEmpty());
            QVERIFY(writeFile(bad, wrong));
            QVERIFY(writeFile(capture, "an older capture"));
            QVERIFY(!prepareCaptureFile(bad, capture).isEmpty());
            QCOMPARE(readFile(capture), QByteArray("an older capture"));
        }
        const QString fresh = dir.filePath("fresh.bmp");
        QVERIFY(!prepareCaptureFile(dir.filePath("missing.bmp"), fresh).isEmpty());
        QVERIFY(!QFile::exists(fresh));
        QVERIFY(!prepareCaptureFile(good, dir.filePath("no-such-folder/eye.bmp")).isEmpty());

        // A capture file removed during the scan is not made again from the
        // pieces alone: that would be no bitmap.
        QVERIFY(QFile::remove(capture));
        const StoredPiece stored = writeCapturePiece(capture, 100, "BM");
        QVERIFY(!stored.opened && !stored.error.isEmpty());
        QVERIFY(!QFile::exists(capture));
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
