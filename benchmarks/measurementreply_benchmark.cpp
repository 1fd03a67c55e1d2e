// Decoding of one answer to "read\r\n", as every Monitoring pass does it.

#include "rules/measurementreply.h"

#include <benchmark/benchmark.h>

namespace {

// "read", the status bytes 4 to 10 with byte 8 (locked) set, the five fields
// and the closing NUL byte.
QByteArray lockedReply()
{
    return QByteArray("read0000100 12.5 380 45 52 9953.2") + '\0';
}

void DecodeMeasurementReply(benchmark::State &state)
{
    const QByteArray reply = lockedReply();
    for (auto _ : state) {
        auto reading = decodeMeasurementReply(reply, reply.size());
        benchmark::DoNotOptimize(reading);
    }
}
BENCHMARK(DecodeMeasurementReply);

// A reply far longer than the bytes examined costs no more than a short one.
void DecodeMeasurementReplyOversized(benchmark::State &state)
{
    QByteArray reply = lockedReply();
    reply.chop(1);
    reply.append(QByteArray(state.range(0), '7'));
    reply.append('\0');
    for (auto _ : state) {
        auto reading = decodeMeasurementReply(reply, reply.size());
        benchmark::DoNotOptimize(reading);
    }
}
BENCHMARK(DecodeMeasurementReplyOversized)->Arg(4096);

} // namespace
