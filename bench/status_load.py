#!/usr/bin/python3
"""The status page under load beside a client's traffic: one client's closed-loop
round trip (FA; to the simulated TS-2000, next command when the answer is in) for
SECONDS without visitors, then the same with visitors asking for /status.json and /
at RATE requests a second (a new connection each, from a process of their own),
alternating ROUNDS times. Prints p50/p99/mean of each and the change. Not part of
the tests: a run of minutes.
    bench/status_load.py [--seconds 30] [--rate 200] [--rounds 1] [--build build]"""
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
start, n, bad = time.monotonic(), 0, 0
while time.monotonic() - start < seconds:
    due = start + n / rate
    if due > time.monotonic():
        time.sleep(due - time.monotonic())
    path = "/status.json" if n % 2 == 0 else "/"
    try:
        s = socket.create_connection(("127.0.0.1", STATUS), timeout=2)
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


def describe(times):
    q = statistics.quantiles(times, n=100)
    return {"n": len(times), "p50": statistics.median(times), "p99": q[98], "mean": statistics.fmean(times)}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--seconds", type=float, default=30)
    p.add_argument("--rate", type=float, default=200)
    p.add_argument("--rounds", type=int, default=1)
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    a = p.parse_args()
    enter_namespaces()
    with Bench(os.path.join(a.build, "ovrin-server"), os.path.join(a.build, "ovrin-radio-sim")) as bench:
        pty = bench.start_radio("radio", "--family", "kenwood", "--delay", "0")
        bench.start_server("server", "--port", str(PORT), "--com", pty, "--line", "9600,n,8,1",
                           "--keep-port-open", "on", "--status-port", str(STATUS))
        wait_for(lambda: subprocess.run(["curl", "-sf", f"http://127.0.0.1:{STATUS}/status.json"],
                                        capture_output=True).returncode == 0)
        closed_loop(2)  # warm up
        quiet, loaded, served = [], [], []
        for _ in range(a.rounds):
            quiet += closed_loop(a.seconds)
            visitors = subprocess.Popen([sys.executable, "-c", VISITORS, str(a.rate), str(a.seconds + 1)],
                                        stdout=subprocess.PIPE, text=True)
            time.sleep(0.5)
            loaded += closed_loop(a.seconds)
            served.append(visitors.communicate()[0].split())
        q, l_ = describe(quiet), describe(loaded)
        print(f"closed-loop FA; round trip, ms ({a.rounds} x {a.seconds:g} s each; radio answers at once)")
        for name, d in (("no visitors", q), (f"{a.rate:g} requests/s", l_)):
            print(f"  {name:16} n={d['n']:6}  p50 {d['p50']:.3f}  p99 {d['p99']:.3f}  mean {d['mean']:.3f}")
        for key in ("p50", "p99", "mean"):
            print(f"  change of {key}: {100 * (l_[key] / q[key] - 1):+.1f}%")
        for n, bad, rate in served:
            print(f"  visitors: {n} requests, {bad} not answered 200, {rate} a second")


main()
