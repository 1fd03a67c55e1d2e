#include "measurement/capture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(Capture::EmptyPoll)

using namespace Capture;

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void firstPieceStartsAtTheSignature_data();
    void firstPieceStartsAtTheSignature();
    void placesPiecesAtTheirOffset_data();
    void placesPiecesAtTheirOffset();
    void progressFollowsTheBytes_data();
    void progressFollowsTheBytes();
    void emptyPollDecisions_data();
    void emptyPollDecisions();
    void passDelays();
    void capturingPassesFollowTheStream();
    void endlessStreamIsCutAtTheBound();
    void captureFileStartsAsTheTemplate();
    void existingFileIsReplacedWhole();
    void missingTemplateLeavesAnEmptyFile();
    void unwritableDestinationIsReported();
};

void TestCapture::firstPieceStartsAtTheSignature_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<QByteArray>("kept");

    QTest::newRow("echo before the bitmap") << QByteArray("SCAN\r\nBM\x01\x02") << QByteArray("BM\x01\x02");
    QTest::newRow("starts with the bitmap") << QByteArray("BMxyz") << QByteArray("BMxyz");
    QTest::newRow("no signature at all") << QByteArray("SCAN\r\n") << QByteArray();
    QTest::newRow("half a signature at the end") << QByteArray("abcB") << QByteArray();
    QTest::newRow("B then M later") << QByteArray("xB yBMz") << QByteArray("BMz");
    QTest::newRow("NUL bytes before") << QByteArray("\0\0BM", 4) << QByteArray("BM");
}

void TestCapture::firstPieceStartsAtTheSignature()
{
    QFETCH(QByteArray, piece);
    QFETCH(QByteArray, kept);
    QCOMPARE(cutToBitmapStart(piece), kept);
}

void TestCapture::placesPiecesAtTheirOffset_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<QByteArray>("result");

    QTest::newRow("at the start") << QByteArray("abcdef") << qint64(0) << QByteArray("XY")
                                  << QByteArray("XYcdef");
    QTest::newRow("inside") << QByteArray("abcdef") << qint64(2) << QByteArray("XY")
                            << QByteArray("abXYef");
    QTest::newRow("up to the end") << QByteArray("abcdef") << qint64(4) << QByteArray("XY")
                                   << QByteArray("abcdXY");
    QTest::newRow("crossing the end grows by the excess")
        << QByteArray("abcdef") << qint64(5) << QByteArray("XYZ") << QByteArray("abcdeXYZ");
    QTest::newRow("at the end") << QByteArray("abc") << qint64(3) << QByteArray("XY")
                                << QByteArray("abcXY");
    QTest::newRow("past the end: gap of spaces")
        << QByteArray("abc") << qint64(5) << QByteArray("XY") << QByteArray("abc  XY");
    QTest::newRow("into an empty file") << QByteArray() << qint64(0) << QByteArray("BM")
                                        << QByteArray("BM");
    QTest::newRow("empty piece changes nothing") << QByteArray("abc") << qint64(1) << QByteArray()
                                                 << QByteArray("abc");
}

void TestCapture::placesPiecesAtTheirOffset()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, offset);
    QFETCH(QByteArray, piece);
    QFETCH(QByteArray, result);
    placePiece(content, offset, piece);
    QCOMPARE(content, result);
}

void TestCapture::progressFollowsTheBytes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<int>("progress");

    QTest::newRow("nothing") << qint64(0) << 0;
    QTest::newRow("just under a step") << qint64(1799) << 0;
    QTest::newRow("one step") << qint64(1800) << 1;
    QTest::newRow("one piece of 90000") << qint64(90000) << 50;
    QTest::newRow("two pieces of 90000") << qint64(180000) << 100;
    QTest::newRow("a whole capture reaches the end") << qint64(182650) << 100;
    QTest::newRow("far more than a capture") << qint64(50'000'000) << 100;
}

void TestCapture::progressFollowsTheBytes()
{
    QFETCH(qint64, bytes);
    QFETCH(int, progress);
    QCOMPARE(progressValue(bytes), progress);
}

void TestCapture::emptyPollDecisions_data()
{
    QTest::addColumn<int>("dragGuard");
    QTest::addColumn<int>("countdown");
    QTest::addColumn<EmptyPoll>("decision");

    QTest::newRow("waiting for data") << 0 << 20 << EmptyPoll::CountDown;
    QTest::newRow("last allowed empty poll") << 0 << 1 << EmptyPoll::CountDown;
    QTest::newRow("no data came or the data stopped") << 0 << 0 << EmptyPoll::EndScan;
    QTest::newRow("window dragged while waiting") << 2 << 20 << EmptyPoll::Wait;
    QTest::newRow("window dragged after data") << 2 << 0 << EmptyPoll::Wait;
    QTest::newRow("guard falling") << 1 << 0 << EmptyPoll::Wait;
}

void TestCapture::emptyPollDecisions()
{
    QFETCH(int, dragGuard);
    QFETCH(int, countdown);
    QFETCH(EmptyPoll, decision);
    QCOMPARE(decideEmptyPoll(dragGuard, countdown), decision);
}

void TestCapture::passDelays()
{
    // Monitoring pass that sent "read", then one that sent "SCAN".
    QCOMPARE(nextPassDelay(1, 1, 500), 500);
    QCOMPARE(nextPassDelay(1, 2, 500), 8000);
    // Capturing passes, going on and ending the scan.
    QCOMPARE(nextPassDelay(2, 2, 500), 500);
    QCOMPARE(nextPassDelay(2, 1, 500), 500);
}

void TestCapture::capturingPassesFollowTheStream()
{
    ScanProgress progress;

    // Nothing yet: empty polls count down, not while the window is dragged.
    CapturingPass pass = decideCapturingPass(progress, {}, 0);
    QVERIFY(!pass.writePiece && !pass.endScan);
    QCOMPARE(progress.scanCountdown, 19);
    pass = decideCapturingPass(progress, {}, 2);
    QVERIFY(!pass.writePiece && !pass.endScan);
    QCOMPARE(progress.scanCountdown, 19);

    // The first piece loses the echo; the next one is taken whole.
    pass = decideCapturingPass(progress, "SCAN\r\nBMabc", 0);
    QVERIFY(pass.writePiece && !pass.endScan);
    QCOMPARE(pass.piece, QByteArray("BMabc"));
    QCOMPARE(pass.offset, 0);
    QCOMPARE(progress.scanCountdown, 0);
    pass = decideCapturingPass(progress, "xyBM", 0);
    QCOMPARE(pass.piece, QByteArray("xyBM"));
    QCOMPARE(pass.offset, 5);
    QCOMPARE(progress.captureOffset, 9);

    // Silence after data ends the scan, unless the window is dragged.
    pass = decideCapturingPass(progress, {}, 1);
    QVERIFY(!pass.endScan);
    pass = decideCapturingPass(progress, {}, 0);
    QVERIFY(pass.endScan && !pass.writePiece && !pass.captureTooLong);
}

void TestCapture::endlessStreamIsCutAtTheBound()
{
    ScanProgress progress{0, MaximumCaptureBytes - 10};
    const CapturingPass pass = decideCapturingPass(progress, QByteArray(100, 'x'), 0);
    QVERIFY(pass.writePiece && pass.endScan && pass.captureTooLong);
    QCOMPARE(pass.piece.size(), 10);
    QCOMPARE(progress.captureOffset, MaximumCaptureBytes);
}

void TestCapture::captureFileStartsAsTheTemplate()
{
    QTemporaryDir dir;
    const QString templateName = dir.filePath("blankcapture.bmp");
    const QByteArray blank = QByteArray("BM") + QByteArray(1000, '\x11');
    QFile templateFile(templateName);
    QVERIFY(templateFile.open(QIODevice::WriteOnly));
    templateFile.write(blank);
    templateFile.close();

    const QString capture = dir.filePath("eye.bmp");
    QCOMPARE(prepareCaptureFile(templateName, capture), QString());
    QFile result(capture);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), blank);
}

void TestCapture::existingFileIsReplacedWhole()
{
    QTemporaryDir dir;
    const QString templateName = dir.filePath("blankcapture.bmp");
    QFile templateFile(templateName);
    QVERIFY(templateFile.open(QIODevice::WriteOnly));
    templateFile.write("BMshort");
    templateFile.close();

    const QString capture = dir.filePath("old.bmp");
    QFile old(capture);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'o'));
    old.close();

    QCOMPARE(prepareCaptureFile(templateName, capture), QString());
    QFile result(capture);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), QByteArray("BMshort"));
}

void TestCapture::missingTemplateLeavesAnEmptyFile()
{
    QTemporaryDir dir;
    const QString capture = dir.filePath("old.bmp");
    QFile old(capture);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older capture");
    old.close();

    QCOMPARE(prepareCaptureFile(dir.filePath("missing.bmp"), capture), QString());
    QCOMPARE(QFileInfo(capture).size(), 0);
}

void TestCapture::unwritableDestinationIsReported()
{
    QTemporaryDir dir;
    const QString capture = dir.filePath("no-such-folder/eye.bmp");
    QVERIFY(!prepareCaptureFile(dir.filePath("missing.bmp"), capture).isEmpty());
    QVERIFY(!QFileInfo::exists(capture));
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
