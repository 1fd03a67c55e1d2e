#pragma once

// What this process holds and has used, for the checks of long runs.

#include <QByteArray>
#include <QFile>
#include <QList>

#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define ZENTAVAL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZENTAVAL_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(ZENTAVAL_ADDRESS_SANITIZER)
#include <cstddef>
// From the sanitizer's allocator interface, whose header gcc does not ship.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ProcessUsage {

// Under the address sanitizer freed blocks wait in a quarantine of up to
// 256 MiB before they are reused, so resident memory says nothing about
// growth there; the heap count below still does.
#if defined(ZENTAVAL_ADDRESS_SANITIZER)
inline constexpr bool residentMemoryTellsGrowth = false;
#else
inline constexpr bool residentMemoryTellsGrowth = true;
#endif

// Resident memory in KiB: the second field of /proc/self/statm, in pages.
inline qint64 residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields.at(1).toLongLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes of heap blocks the process holds now (allocated and not yet freed),
// or -1 where the allocator does not say.
inline qint64 heapInUseBytes()
{
#if defined(ZENTAVAL_ADDRESS_SANITIZER)
    return qint64(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__)
    const struct mallinfo2 info = ::mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

// CPU time, user and system, this process has used, in milliseconds.
inline qint64 cpuMilliseconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

} // namespace ProcessUsage
