#!/usr/bin/env python3
"""Times the remote-control server as lab clients see it, over the loopback:
the FETC? round trip with one client and with four at once (median and 99th
percentile), and the CAPT:DATA? transfer of the last capture (run CAPT first).
Not a test: it asserts nothing and prints a table.

Usage: scpi_roundtrip.py PORT [--queries N] [--transfers N]"""
import argparse
import socket
import statistics
import threading
import time


def connect(port):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock


def read_line(sock, pending):
    while b"\n" not in pending[0]:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("server closed")
        pending[0] += chunk
    line, _, rest = pending[0].partition(b"\n")
    pending[0] = rest
    return line


def read_exactly(sock, pending, count):
    while len(pending[0]) < count:
        chunk = sock.recv(1 << 20)
        if not chunk:
            raise ConnectionError("server closed")
        pending[0] += chunk
    data, pending[0] = pending[0][:count], pending[0][count:]
    return data


def round_trips(port, count, results):
    sock = connect(port)
    pending = [b""]
    times = []
    for _ in range(count):
        start = time.perf_counter()
        sock.sendall(b"FETC?\n")
        read_line(sock, pending)
        times.append(time.perf_counter() - start)
    sock.close()
    results.extend(times)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


def transfer(port, count):
    sock = connect(port)
    pending = [b""]
    sock.sendall(b"CAPT;*OPC?\n")
    read_line(sock, pending)
    times = []
    size = 0
    for _ in range(count):
        start = time.perf_counter()
        sock.sendall(b"CAPT:DATA?\n")
        head = read_exactly(sock, pending, 2)
        digits = int(head[1:2])
        size = int(read_exactly(sock, pending, digits))
        read_exactly(sock, pending, size + 1)
        times.append(time.perf_counter() - start)
    sock.close()
    return size, times


def load(port, seconds, counts):
    """Asks FETC? as fast as the answers come, for `seconds`; the server is
    waited for while it is not listening yet."""
    end = time.monotonic() + seconds
    while True:
        try:
            sock = connect(port)
            break
        except OSError:
            if time.monotonic() > end:
                return
            time.sleep(0.05)
    pending = [b""]
    count = 0
    try:
        while time.monotonic() < end:
            sock.sendall(b"FETC?\n")
            read_line(sock, pending)
            count += 1
    except OSError:
        pass  # the window's run is over
    sock.close()
    counts.append(count)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("--queries", type=int, default=2000)
    parser.add_argument("--transfers", type=int, default=20)
    parser.add_argument("--load-seconds", type=float, default=0,
                        help="only load the server: four clients ask FETC? this long")
    options = parser.parse_args()

    if options.load_seconds > 0:
        counts = []
        threads = [threading.Thread(target=load, args=(options.port, options.load_seconds, counts))
                   for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(f"load_queries={sum(counts)}")
        return

    rows = []
    for clients in (1, 4):
        results = []
        threads = [threading.Thread(target=round_trips, args=(options.port, options.queries, results))
                   for _ in range(clients)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        rows.append((f"FETC? round trip, {clients} client{'s' if clients > 1 else ''} "
                     f"({len(results)} queries)",
                     f"{statistics.median(results) * 1e3:.3f} ms", f"{percentile(results, 0.99) * 1e3:.3f} ms"))
    size, times = transfer(options.port, options.transfers)
    rows.append((f"CAPT:DATA? ({size:,} bytes, {len(times)} transfers)",
                 f"{statistics.median(times) * 1e3:.2f} ms", f"{percentile(times, 0.99) * 1e3:.2f} ms"))
    print("| Measure | Median | 99th percentile |")
    print("|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
