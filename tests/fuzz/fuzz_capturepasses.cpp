// Runs Capturing passes over a sequence of events and places every piece into
// an in-memory capture file that starts as a template bitmap, checking the
// scan's rules after each event and the file at the end of each scan.
//
// Input: a sequence of events, each one opcode byte and its operands.
//   op == 0xff:      a piece that brings the stream to MaximumCaptureBytes
//                    minus the next byte, cut from a fixed stream that begins
//                    with "BM"; once per input (later pieces cross the bound)
//   op % 16 in 0..5: a piece of N bytes, N = next byte, taken from the input
//   op % 16 == 6:    a piece of N bytes, N = next two bytes little-endian
//   op % 16 == 7:    a piece of (next byte + 1) KiB cut from the fixed stream
//                    at 256 x (next two bytes little-endian); up to 1 MiB of
//                    these per input
//   op % 16 in 8..10, 15: an empty poll
//   op % 16 in 11..12: a press on the title bar: the drag guard goes to 2
//   op % 16 in 13..14: a loss of the mouse capture: the guard goes down by one
// A piece of 0 bytes is an empty poll too. When a scan ends, the next events
// belong to a new scan over a fresh copy of the template.

#include "measurement/capture.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Capture::MaximumCaptureBytes;

// Where the pieces that the input does not spell out are cut from: "BM",
// then bytes of a fixed pseudo-random sequence, in which "BM" turns up now and
// then. Long enough for a piece at any start of the large-piece event and for
// one that reaches the bound.
const QByteArray &fixedStream()
{
    static const QByteArray stream = [] {
        QByteArray bytes(qsizetype(MaximumCaptureBytes + 0x10000 * 256 + 256 * 1024), '\0');
        std::uint32_t state = 0x2545f491;
        for (char &byte : bytes) {
            state = state * 1664525u + 1013904223u;
            byte = char(state >> 24);
        }
        bytes[0] = 'B';
        bytes[1] = 'M';
        return bytes;
    }();
    return stream;
}

QByteArray fixedPiece(qint64 start, qint64 length)
{
    return QByteArray::fromRawData(fixedStream().constData() + start, qsizetype(length));
}

const QByteArray &templateBitmap()
{
    static const QByteArray blank = [] {
        QByteArray bytes(4096, '\0');
        bytes[0] = 'B';
        bytes[1] = 'M';
        for (int i = 2; i < bytes.size(); ++i)
            bytes[i] = char((i * 37 + 11) & 0xff);
        return bytes;
    }();
    return blank;
}

class Reader
{
public:
    Reader(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool atEnd() const { return m_position >= m_size; }
    std::uint8_t byte() { return atEnd() ? 0 : m_data[m_position++]; }
    QByteArray bytes(std::size_t count)
    {
        count = std::min(count, m_size - m_position);
        QByteArray result(reinterpret_cast<const char *>(m_data + m_position), qsizetype(count));
        m_position += count;
        return result;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// Where the first "BM" begins, or the piece's length when there is none.
qsizetype signatureStart(const QByteArray &piece)
{
    for (qsizetype i = 0; i + 1 < piece.size(); ++i) {
        if (piece[i] == 'B' && piece[i + 1] == 'M')
            return i;
    }
    return piece.size();
}

// Compared in place: copying megabytes per input would slow the search down.
bool sameBytes(const QByteArray &bytes, const char *expected, qsizetype length)
{
    return bytes.size() == length
           && std::memcmp(bytes.constData(), expected, std::size_t(length)) == 0;
}

// The in-memory capture file, one for all inputs: its memory is touched once
// rather than once per input, which keeps the inputs that reach the bound quick.
QByteArray &captureFile()
{
    static QByteArray file = [] {
        QByteArray bytes;
        bytes.reserve(qsizetype(MaximumCaptureBytes + 64 * 1024));
        return bytes;
    }();
    return file;
}

class ScanModel
{
public:
    ScanModel() { startScan(); }
    void piece(const QByteArray &bytes) { runPass(bytes); }
    void emptyPoll() { runPass(QByteArray()); }
    void pressTitleBar() { m_dragGuard = 2; }
    void loseMouseCapture() { m_dragGuard = std::max(0, m_dragGuard - 1); }
    qint64 offset() const { return m_progress.captureOffset; }

    // The capture file, once the scan is over, is the template with its first
    // bytes replaced by the placed stream.
    void checkFile() const
    {
        const QByteArray &blank = templateBitmap();
        require(m_file.size() == std::max<qsizetype>(blank.size(), m_placed),
                "file length is max(template, offset)");
        qsizetype position = 0;
        for (const QByteArray &piece : m_pieces) {
            require(std::memcmp(m_file.constData() + position, piece.constData(),
                                std::size_t(piece.size()))
                        == 0,
                    "file holds each piece at its place in the stream");
            position += piece.size();
        }
        require(std::memcmp(m_file.constData() + position, blank.constData() + position,
                            std::size_t(std::max<qsizetype>(0, blank.size() - position)))
                    == 0,
                "file keeps the template's tail");
        const int progress = Capture::progressValue(m_progress.captureOffset);
        require(progress >= 0 && progress <= 100, "progress within 0..100");
        require(progress == int(std::min<qint64>(m_progress.captureOffset / 1800, 100)),
                "progress is the offset over 1800");
    }

private:
    void require(bool condition, const char *what) const
    {
        if (condition)
            return;
        std::fprintf(stderr,
                     "fuzz_capturepasses: %s\n  countdown=%d offset=%lld placed=%lld file=%lld "
                     "guard=%d\n",
                     what, m_progress.scanCountdown, static_cast<long long>(m_progress.captureOffset),
                     static_cast<long long>(m_placed), static_cast<long long>(m_file.size()),
                     m_dragGuard);
        std::abort();
    }

    void runPass(const QByteArray &bytes)
    {
        const Capture::ScanProgress before = m_progress;
        const Capture::CapturingPass pass = Capture::decideCapturingPass(m_progress, bytes, m_dragGuard);

        if (bytes.isEmpty()) {
            require(!pass.writePiece && pass.piece.isEmpty() && !pass.captureTooLong,
                    "an empty poll writes nothing");
            require(m_progress.captureOffset == before.captureOffset, "an empty poll keeps the offset");
            if (m_dragGuard > 0) {
                require(!pass.endScan && m_progress.scanCountdown == before.scanCountdown,
                        "a raised guard makes an empty poll wait");
            } else if (before.scanCountdown > 0) {
                require(!pass.endScan && m_progress.scanCountdown == before.scanCountdown - 1,
                        "an empty poll before data counts down");
            } else {
                require(pass.endScan && m_progress.scanCountdown == 0,
                        "an empty poll after data, or after the countdown, ends the scan");
            }
        } else {
            const qsizetype start = before.pieceReceived ? 0 : signatureStart(bytes);
            qsizetype expectedLength = bytes.size() - start;
            const bool pastBound = before.captureOffset + expectedLength > MaximumCaptureBytes;
            if (pastBound)
                expectedLength = qsizetype(MaximumCaptureBytes - before.captureOffset);
            require(pass.writePiece, "received bytes are written");
            require(pass.offset == before.captureOffset, "a piece goes where the last one ended");
            require(sameBytes(pass.piece, bytes.constData() + start, expectedLength),
                    "the first piece starts at \"BM\", later ones are whole up to the bound");
            require(pass.captureTooLong == pastBound && pass.endScan == pastBound,
                    "a scan ends on data only at the bound");
            require(m_progress.scanCountdown == 0, "received bytes clear the countdown");
            Capture::placePiece(m_file, pass.offset, pass.piece);
            m_pieces.push_back(pass.piece);
            m_placed += pass.piece.size();
        }

        require(m_progress.scanCountdown >= 0 && m_progress.scanCountdown <= Capture::EmptyPollsAllowed,
                "countdown within 0..20");
        require(m_progress.captureOffset == m_placed, "offset is the bytes placed");
        require(m_progress.captureOffset <= MaximumCaptureBytes, "offset within the bound");
        require(m_file.size() == std::max<qsizetype>(templateBitmap().size(), m_placed),
                "file length is max(template, offset)");
        if (pass.endScan) {
            require((bytes.isEmpty() && m_dragGuard == 0 && before.scanCountdown <= 0)
                        || (pass.captureTooLong && m_progress.captureOffset == MaximumCaptureBytes),
                    "a scan ends on a silent poll or at the bound");
            checkFile();
            startScan();
        }
    }

    void startScan()
    {
        m_progress = Capture::ScanProgress();
        const QByteArray &blank = templateBitmap();
        m_file.resize(0);
        m_file.append(blank.constData(), blank.size());
        m_pieces.clear();
        m_placed = 0;
    }

    Capture::ScanProgress m_progress;
    QByteArray &m_file = captureFile();
    // The placed stream, piece by piece (shared, not copied).
    std::vector<QByteArray> m_pieces;
    qsizetype m_placed = 0;
    int m_dragGuard = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Reader input(data, size);
    ScanModel scan;
    // Long pieces cost megabytes of copying: a few per input are enough.
    bool boundPieceUsed = false;
    qint64 kibibytePieces = 0;
    while (!input.atEnd()) {
        const std::uint8_t op = input.byte();
        if (op == 0xff) {
            const qint64 target = MaximumCaptureBytes - input.byte();
            const qint64 length = std::max<qint64>(1, target - scan.offset());
            if (!boundPieceUsed)
                scan.piece(fixedPiece(0, length));
            boundPieceUsed = true;
            continue;
        }
        switch (op % 16) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            scan.piece(input.bytes(input.byte()));
            break;
        case 6: {
            const std::size_t low = input.byte();
            scan.piece(input.bytes(low | std::size_t(input.byte()) << 8));
            break;
        }
        case 7: {
            const qint64 length = qint64(input.byte() + 1) * 1024;
            const std::size_t low = input.byte();
            const qint64 start = qint64(low | std::size_t(input.byte()) << 8) * 256;
            kibibytePieces += length;
            if (kibibytePieces <= 1024 * 1024)
                scan.piece(fixedPiece(start, length));
            break;
        }
        case 8:
        case 9:
        case 10:
        case 15:
            scan.emptyPoll();
            break;
        case 11:
        case 12:
            scan.pressTitleBar();
            break;
        case 13:
        case 14:
            scan.loseMouseCapture();
            break;
        }
    }
    scan.checkFile();
    return 0;
}
