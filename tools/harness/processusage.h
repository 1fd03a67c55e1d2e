#pragma once

// What this process holds and has used, for the checks of long runs.

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
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
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// The clocks and the scheduler's record of this process and its GUI thread,
// for the measurements of how quickly the window answers.
inline qint64 realtimeNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline qint64 boottimeNs()
{
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// This process's start on the CLOCK_REALTIME scale, from the kernel's record
// of it in clock ticks since boot.
inline qint64 processStartNs()
{
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // Field 2 (the command) may hold spaces; the fields after it do not.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
        if (number == 22) {
            const qint64 ticks = std::stoll(field);
            const qint64 sinceBootNs = ticks * (1000000000 / sysconf(_SC_CLK_TCK));
            return realtimeNs() - (boottimeNs() - sinceBootNs);
        }
    }
    return realtimeNs();
}

// The GUI thread's time on a CPU and its time spent runnable but waiting for
// one, in ns, as the scheduler counts them.
struct ThreadTimes
{
    qint64 cpuNs = 0;
    qint64 waitingNs = 0;
};

class SchedulerStatistics
{
public:
    SchedulerStatistics()
        : m_fd(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC))
    {
    }
    ~SchedulerStatistics()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SchedulerStatistics(const SchedulerStatistics &) = delete;
    SchedulerStatistics &operator=(const SchedulerStatistics &) = delete;

    ThreadTimes read() const
    {
        ThreadTimes times;
        char text[128] = {};
        if (m_fd >= 0 && ::pread(m_fd, text, sizeof text - 1, 0) > 0) {
            long long cpu = 0;
            long long waiting = 0;
            if (std::sscanf(text, "%lld %lld", &cpu, &waiting) == 2) {
                times.cpuNs = cpu;
                times.waitingNs = waiting;
            }
        }
        return times;
    }

private:
    int m_fd;
};

} // namespace ProcessUsage
