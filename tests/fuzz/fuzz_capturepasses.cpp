// Runs Capturing passes over a sequence of events, places every piece into an in-memory capture file
// that starts as a template bitmap, and checks the scan's rules after each pass and the file and the
// outcome at the end of each scan. Input: events, each an opcode byte and its operands:
//   0xff: a piece from a fixed stream that begins with "BM", up to MaximumCaptureBytes minus the
//         next byte; once per input (later pieces cross the bound)
//   op % 16 in 0..5: a piece of N bytes of the input, N = next byte; 6: N = next two bytes (LE)
//   7: a piece of (next byte + 1) KiB of the fixed stream at 256 x (next two bytes, LE); up to
//      1 MiB of these per input
//   8..10, 15: an empty poll; 11..12: a press on the title bar (drag guard 2); 13..14: a loss of
//   the mouse capture (guard down by one)
// A piece of 0 bytes is an empty poll too. After a scan ends, a new one starts on a fresh template.

#include "rules/capture.h"

#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

using Capture::MaximumCaptureBytes;

// "BM", then a fixed pseudo-random sequence in which "BM" turns up now and then; long enough for
// any large piece, for one that reaches the bound, and for the template.
const QByteArray &fixedStream()
{
    static const QByteArray stream = [] {
        QByteArray bytes(qsizetype(MaximumCaptureBytes + 0x10000 * 256 + 256 * 1024), '\0');
        std::uint32_t state = 0x2545f491;
        for (char &byte : bytes)
            byte = char((state = state * 1664525u + 1013904223u) >> 24);
        return bytes.replace(0, 2, "BM");
    }();
    return stream;
}

// "BM", then the stream's last bytes, from which no piece is cut.
const QByteArray &templateBitmap()
{
    static const QByteArray blank = "BM" + fixedStream().right(4094);
    return blank;
}

struct Scan
{
    Capture::ScanProgress progress;
    // One file for all inputs, its memory touched once: allocating megabytes per input is slow.
    inline static QByteArray file {qsizetype(MaximumCaptureBytes + 65536), '\0'};
    std::vector<QByteArray> pieces; // the placed stream (shared, not copied)
    qsizetype placed = 0;
    int dragGuard = 0;
    qint64 now = 0; // the passes come 500 ms apart

    Scan() { start(); }

    void require(bool condition, const char *what) const
    {
        if (condition)
            return;
        std::fprintf(stderr,
                     "fuzz_capturepasses: %s\n  countdown=%d offset=%lld placed=%lld file=%lld guard=%d\n",
                     what, progress.scanCountdown, (long long)progress.captureOffset, (long long)placed,
                     (long long)file.size(), dragGuard);
        std::abort();
    }

    void start()
    {
        progress = Capture::ScanProgress();
        file.resize(0);
        file.append(templateBitmap());
        pieces.clear();
        placed = 0;
    }

    void pass(const QByteArray &bytes)
    {
        const Capture::ScanProgress before = progress;
        const Capture::CapturingPass pass
            = Capture::decideCapturingPass(progress, bytes, dragGuard, now += 500);
        if (bytes.isEmpty()) {
            // A raised guard waits; before any data the poll counts down; else the scan ends.
            const bool ends = dragGuard == 0 && before.scanCountdown == 0;
            require(!pass.writePiece && pass.piece.isEmpty() && !pass.captureTooLong && pass.endScan == ends,
                    "an empty poll writes nothing, and ends a scan after data or the countdown");
            require(progress.scanCountdown == before.scanCountdown - (dragGuard == 0 && !ends),
                    "an empty poll counts down before data, unless the guard is raised");
        } else {
            // The scan's first piece starts at "BM" (none: nothing); later ones are whole.
            const qsizetype signature = bytes.indexOf("BM");
            const qsizetype cut = before.pieceReceived ? 0 : signature < 0 ? bytes.size() : signature;
            const qsizetype arrived = bytes.size() - cut;
            // Nothing past the end the bitmap's header announces is written, nor past the bound.
            const QByteArray header
                = before.header + bytes.mid(cut, std::min<qsizetype>(arrived, 6 - before.header.size()));
            const qint64 announced = Capture::announcedBitmapSize(header);
            qint64 room = MaximumCaptureBytes - before.captureOffset;
            if (announced >= Capture::BitmapHeaderSize)
                room = std::min(room, std::max<qint64>(0, announced - before.captureOffset));
            const bool pastBound = arrived > MaximumCaptureBytes - before.streamBytes;
            const qsizetype length = qsizetype(std::min<qint64>(arrived, room));
            require(pass.writePiece == (length > 0 || arrived <= room),
                    "a piece is written unless all of it lies past the end");
            require(pass.offset == before.captureOffset, "a piece goes where the last one ended");
            require(pass.piece == QByteArrayView(bytes).sliced(cut, length),
                    "the first piece starts at \"BM\", later ones are whole up to the end");
            require(pass.captureTooLong == pastBound && pass.endScan == (pastBound || pass.ignoredStop),
                    "data ends a scan only at the bound, or when the instrument does not stop");
            require(!pass.ignoredStop || before.stopRequested,
                    "a scan ends for the excess only after a stop");
            require(progress.scanCountdown == 0 && progress.pieceReceived, "data clears the countdown");
            Capture::placePiece(file, pass.offset, pass.piece);
            pieces.push_back(pass.piece);
            placed += pass.piece.size();
        }
        require(progress.scanCountdown >= 0 && progress.scanCountdown <= Capture::EmptyPollsAllowed,
                "countdown within 0..20");
        require(progress.captureOffset == placed, "offset is the bytes placed");
        require(progress.captureOffset <= MaximumCaptureBytes, "offset within the bound");
        if (pass.endScan) {
            end();
            start();
        }
    }

    // The file is the template with its first bytes replaced by the stream; the outcome compares the
    // stream's length with the size its header announces.
    void end() const
    {
        const QByteArray &blank = templateBitmap();
        require(file.size() == std::max(blank.size(), placed), "file length is max(template, offset)");
        qsizetype position = 0;
        for (const QByteArray &piece : pieces) {
            require(QByteArrayView(file).sliced(position, piece.size()) == piece,
                    "file holds the stream in order");
            position += piece.size();
        }
        const QByteArrayView tail = QByteArrayView(blank).sliced(std::min(position, blank.size()));
        require(QByteArrayView(file).sliced(position, tail.size()) == tail, "file keeps the template's tail");
        const int value = Capture::progressValue(progress.captureOffset);
        require(value == std::min<qint64>(placed / 1800, 100), "progress is the offset over 1800, up to 100");
        const bool headerHere = placed >= 6 && file.startsWith("BM");
        const qint64 announced = headerHere ? qint64(qFromLittleEndian<quint32>(file.constData() + 2)) : -1;
        const Capture::ScanOutcome outcome = Capture::scanOutcome(progress);
        require(outcome.received == placed && outcome.announced == announced
                    && outcome.complete == (headerHere && placed >= announced),
                "the outcome: complete once the announced size has arrived");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::size_t at = 0;
    const auto next = [&]() -> std::size_t { return at < size ? data[at++] : 0; };
    const auto fixedPiece = [](qint64 start, qint64 length) {
        return QByteArray::fromRawData(fixedStream().constData() + start, qsizetype(length));
    };
    Scan scan;
    // Long pieces cost megabytes of copying: a few per input are enough.
    bool boundPieceUsed = false;
    qint64 kibibytePieces = 0;
    while (at < size) {
        const std::size_t op = next();
        if (op == 0xff) {
            const qint64 length
                = std::max<qint64>(1, MaximumCaptureBytes - qint64(next()) - scan.progress.captureOffset);
            if (!std::exchange(boundPieceUsed, true))
                scan.pass(fixedPiece(0, length));
        } else if (op % 16 <= 6) {
            std::size_t count = next();
            if (op % 16 == 6)
                count |= next() << 8;
            count = std::min(count, size - at);
            scan.pass(QByteArray(reinterpret_cast<const char *>(data + at), qsizetype(count)));
            at += count;
        } else if (op % 16 == 7) {
            const qint64 length = qint64(next() + 1) * 1024;
            const std::size_t low = next();
            const qint64 start = qint64(low | next() << 8) * 256;
            if ((kibibytePieces += length) <= 1024 * 1024)
                scan.pass(fixedPiece(start, length));
        } else if (op % 16 <= 10 || op % 16 == 15) {
            scan.pass(QByteArray());
        } else {
            scan.dragGuard = op % 16 <= 12 ? 2 : std::max(0, scan.dragGuard - 1);
        }
    }
    scan.end();
    return 0;
}
