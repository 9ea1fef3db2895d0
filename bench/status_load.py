#!/usr/bin/python3
"""The status page under load beside a client's traffic: one client's closed-loop
round trip (FA; to the simulated TS-2000, next command when the answer is in) for
SECONDS without visitors, then the same with visitors asking for /status.json and /
at RATE requests a second (a new connection each, from a process of their own),
then the same (from another address) beside SLOW visitors that send their
requests a byte every half second; ROUNDS times. Prints p50/p99/mean of each and the change. Not part of
the tests: a run of minutes.
    bench/status_load.py [--seconds 30] [--rate 200] [--slow 40] [--rounds 1] [--build build]"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from e2e_common import Bench, enter_namespaces, fail, wait_for  # noqa: E402

PORT, STATUS = 4532, 8080

# The visitors: RATE requests a second on fresh connections, paced by the clock,
# alternately the JSON and the page, each read to its end.
VISITORS = """
import socket, sys, time
rate, seconds = float(sys.argv[1]), float(sys.argv[2])
source = (sys.argv[3], 0) if len(sys.argv) > 3 else None
start, n, bad = time.monotonic(), 0, 0
while time.monotonic() - start < seconds:
    wait = start + n / rate - time.monotonic()
    if wait > 0:
        time.sleep(wait)
    path = "/status.json" if n % 2 == 0 else "/"
    try:
        s = socket.create_connection(("127.0.0.1", STATUS), timeout=2, source_address=source)
        s.sendall(("GET " + path + " HTTP/1.1\\r\\nHost: x\\r\\nConnection: close\\r\\n\\r\\n").encode())
        got = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
        bad += not got.startswith(b"HTTP/1.1 200")
        s.close()
    except OSError:
        bad += 1
    n += 1
print(n, bad, round(n / (time.monotonic() - start), 1))
""".replace("STATUS", str(STATUS))


# Slow visitors: COUNT connections, each sending its request a byte every half
# second, opened again whenever the server closes one.
SLOW = """
import socket, sys, threading, time
count, seconds = int(sys.argv[1]), float(sys.argv[2])
end = time.monotonic() + seconds
def trickle():
    while time.monotonic() < end:
        try:
            s = socket.create_connection(("127.0.0.1", STATUS), timeout=2)
            for b in b"GET /status.json HTTP/1.1\\r\\nHost: x\\r\\n" + b"X: y\\r\\n" * 100:
                if time.monotonic() >= end:
                    break
                s.sendall(bytes([b]))
                time.sleep(0.5)
        except OSError:
            time.sleep(0.1)
for _ in range(count):
    threading.Thread(target=trickle, daemon=True).start()
time.sleep(seconds)
""".replace("STATUS", str(STATUS))


def closed_loop(seconds):
    s = socket.create_connection(("127.0.0.1", PORT))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    times, end = [], time.monotonic() + seconds
    while time.monotonic() < end:
        t = time.perf_counter()
        s.sendall(b"FA;")
        got = b""
        while not got.endswith(b";"):
            chunk = s.recv(100)
            if not chunk:
                fail("the server closed the client")
            got += chunk
        times.append((time.perf_counter() - t) * 1000)
    s.close()
    return times


def cpu_seconds(pid):
    """utime + stime of the process, all its threads."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def describe(times):
    q = statistics.quantiles(times, n=100)
    return {"n": len(times), "p50": statistics.median(times), "p99": q[98], "mean": statistics.fmean(times)}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--seconds", type=float, default=30)
    p.add_argument("--rate", type=float, default=200)
    p.add_argument("--rounds", type=int, default=1)
    p.add_argument("--slow", type=int, default=40, help="slow visitors beside the fast ones in a third run; 0: none")
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    a = p.parse_args()
    enter_namespaces()
    with Bench(os.path.join(a.build, "ovrin-server"), os.path.join(a.build, "ovrin-radio-sim")) as bench:
        pty = bench.start_radio("radio", "--family", "kenwood", "--delay", "0")
        bench.start_server("server", "--port", str(PORT), "--com", pty, "--line", "9600,n,8,1",
                           "--keep-port-open", "on", "--status-port", str(STATUS),
                           # each FA; to the radio, not answered from the read in hand
                           "--cache-ms", "0")
        wait_for(lambda: subprocess.run(["curl", "-sf", f"http://127.0.0.1:{STATUS}/status.json"],
                                        capture_output=True).returncode == 0)
        closed_loop(2)  # warm up
        pid = bench.children[-1].pid
        quiet, loaded, slowed, served = [], [], [], []
        cpu = {"quiet": 0.0, "loaded": 0.0, "slowed": 0.0}

        def timed(phase, times):
            before = cpu_seconds(pid)
            times += closed_loop(a.seconds)
            cpu[phase] += cpu_seconds(pid) - before

        for _ in range(a.rounds):
            timed("quiet", quiet)
            visitors = subprocess.Popen([sys.executable, "-c", VISITORS, str(a.rate), str(a.seconds + 1)],
                                        stdout=subprocess.PIPE, text=True)
            time.sleep(0.5)
            timed("loaded", loaded)
            served.append(visitors.communicate()[0].split())
            if a.slow:
                trickling = subprocess.Popen([sys.executable, "-c", SLOW, str(a.slow), str(a.seconds + 1)])
                # From another address: the slow ones may hold only their own address's share.
                visitors = subprocess.Popen([sys.executable, "-c", VISITORS, str(a.rate), str(a.seconds + 1),
                                             "127.0.0.2"], stdout=subprocess.PIPE, text=True)
                time.sleep(0.5)
                timed("slowed", slowed)
                served.append(visitors.communicate()[0].split() + ["beside slow ones"])
                trickling.wait()
        q = describe(quiet)
        runs = [("no visitors", q, "quiet"), (f"{a.rate:g} requests/s", describe(loaded), "loaded")]
        if a.slow:
            runs.append((f"and {a.slow} slow", describe(slowed), "slowed"))
        print(f"closed-loop FA; round trip, ms ({a.rounds} x {a.seconds:g} s each; radio answers at once)")
        for name, d, phase in runs:
            change = "  ".join(f"{key} {100 * (d[key] / q[key] - 1):+.1f}%" for key in ("p50", "p99", "mean"))
            print(f"  {name:18} n={d['n']:6}  p50 {d['p50']:.3f}  p99 {d['p99']:.3f}  mean {d['mean']:.3f}  "
                  f"change: {change}  server CPU {100 * cpu[phase] / (a.rounds * a.seconds):.0f}%")
        for n, bad, rate, *beside in served:
            print(f"  visitors{' ' + ' '.join(beside) if beside else ''}: {n} requests, {bad} not answered 200, "
                  f"{rate} a second")


main()
