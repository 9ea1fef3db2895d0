#!/usr/bin/python3
"""A station's usual mix of programs sharing one radio: the simulated TS-2000 at
4800 baud (answers paced a character at a time, 20 ms to think), and four programs,
each waiting for its answer before its next command:

    digital-mode program  FA; MD;  every 1 s
    logger                FA; MD;  every 0.5 s
    panadapter            FA;      every 0.1 s
    meter                 SM0;     every 0.2 s

served by the built server (--clients 4), once as it is and once more for each
--config of extra server options, and by hamlib's rigctld on the same simulated
radio with the same programs speaking its protocol (f, m, l STRENGTH). Each
program to the server first asks ID; as hamlib does when it opens the radio. For each:
each program's latency (p50/p99), the radio's commands a second by command (from
the simulator's --stats), wrong answers (not the reply to that program's own
question) and missing ones (none within 2 s), whether the simulator's knob turn
was seen by each program's next frequency read, and a key's latency: a fifth
program keys (TX; or T 1) behind the logger, panadapter and meter reading, and
the time until the radio sees it is taken from the simulator's log. A server
that refuses an option of a --config is reported and that configuration skipped.
Not part of the tests: about 35 s a configuration.

    bench/station_mix.py [--seconds 20] [--keys 20] [--config="--cache-ms 500"]...
                         [--no-rigctld] [--build build]
Run it through bench/station_mix.sh (as root: private namespaces)."""
import argparse
import datetime
import math
import os
import random
import re
import select
import shlex
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from e2e_common import Bench, enter_namespaces, fail, read, wait_for  # noqa: E402

BAUD, THINK_MS = 4800, 20
ANSWER_WAIT = 2.0  # an answer later than this is missing
RIGCTLD_PORT = 4532
KNOB_HZ = {14_074_000, 14_074_100}  # the simulator's knob goes 100 Hz up and back

# name, reads (Kenwood command, rigctld command), period in seconds
PROGRAMS = [
    ("digital-mode", ["FA", "MD"], 1.0),
    ("logger", ["FA", "MD"], 0.5),
    ("panadapter", ["FA"], 0.1),
    ("meter", ["SM"], 0.2),
]
READERS_BEHIND_KEY = ("logger", "panadapter", "meter")

KENWOOD = {"FA": (b"FA;", re.compile(rb"FA(\d{11});")),
           "MD": (b"MD;", re.compile(rb"MD(\d);")),
           "SM": (b"SM0;", re.compile(rb"SM0(\d{4});"))}
# rigctld's plain protocol: the reply's lines, and what each must look like.
RIGCTLD = {"FA": (b"f\n", [re.compile(rb"(\d+)")]),
           "MD": (b"m\n", [re.compile(rb"([A-Z]+)"), re.compile(rb"-?\d+")]),
           "SM": (b"l STRENGTH\n", [re.compile(rb"(-?\d+)")])}


class Client:
    """One TCP connection speaking either language; ask() returns (ms, value) or
    raises Wrong/Missing. After a missing answer the connection is drained, so a
    late one is not taken for the next question's."""

    class Wrong(Exception):
        pass

    class Missing(Exception):
        pass

    def __init__(self, port, rigctld):
        self.rigctld = rigctld
        self.s = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""
        if not rigctld:
            # As hamlib's rig_open does, and the server learns the dialect from the answer
            # (until then it cannot tell a Kenwood set from a Yaesu read, and waits for an answer).
            self.s.sendall(b"ID;")
            if self._unit(b";", time.monotonic() + ANSWER_WAIT) != b"ID019;":
                raise Client.Wrong("ID;")

    def _unit(self, end_mark, deadline):
        while end_mark not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.s], [], [], left)[0]:
                raise Client.Missing()
            chunk = self.s.recv(4096)
            if not chunk:
                raise Client.Missing()
            self.buffer += chunk
        unit, self.buffer = self.buffer.split(end_mark, 1)
        return unit + end_mark

    def drain(self, seconds=0.5):
        end = time.monotonic() + seconds
        while select.select([self.s], [], [], max(0.0, end - time.monotonic()))[0]:
            if not self.s.recv(4096):
                break
        self.buffer = b""

    def ask(self, read):
        t = time.perf_counter()
        deadline = time.monotonic() + ANSWER_WAIT
        try:
            if self.rigctld:
                command, shapes = RIGCTLD[read]
                self.s.sendall(command)
                lines = []
                for shape in shapes:
                    line = self._unit(b"\n", deadline).strip()
                    if not shape.fullmatch(line):
                        raise Client.Wrong(line)
                    lines.append(line)
                value = shapes[0].fullmatch(lines[0]).group(1)
            else:
                command, shape = KENWOOD[read]
                self.s.sendall(command)
                answer = self._unit(b";", deadline).strip()
                m = shape.fullmatch(answer)
                if not m:
                    raise Client.Wrong(answer)
                value = m.group(1)
        except Client.Missing:
            self.drain()
            raise
        except Client.Wrong:
            self.drain(0.2)
            raise
        return (time.perf_counter() - t) * 1000, int(value) if value.isdigit() else value

    def key(self, on):
        """TX;/RX; (no answer) or T 1/T 0 (RPRT 0)."""
        if not self.rigctld:
            self.s.sendall(b"TX;" if on else b"RX;")
            return True
        self.s.sendall(b"T 1\n" if on else b"T 0\n")
        try:
            return self._unit(b"\n", time.monotonic() + ANSWER_WAIT).strip() == b"RPRT 0"
        except Client.Missing:
            self.drain()
            return False

    def close(self):
        self.s.close()


class Program(threading.Thread):
    """Asks its reads in turn, each after the answer to the one before, every
    period (10% either way) from a random phase, until stop is set."""

    def __init__(self, name, reads, period, port, rigctld, stop, rng):
        super().__init__(daemon=True)
        self.name_, self.reads, self.period, self.stop = name, reads, period, stop
        self.client = Client(port, rigctld)
        self.phase = rng.uniform(0, period)
        self.rng = random.Random(rng.random())
        self.latencies, self.wrong, self.missing = [], 0, 0
        self.frequency_reads = []  # (wall time sent, Hz)
        self.error = None

    def run(self):
        try:
            due = time.monotonic() + self.phase
            while not self.stop.is_set():
                wait = due - time.monotonic()
                if wait > 0 and self.stop.wait(wait):
                    break
                for read in self.reads:
                    sent = time.time()
                    try:
                        ms, value = self.client.ask(read)
                    except Client.Wrong:
                        self.wrong += 1
                        continue
                    except Client.Missing:
                        self.missing += 1
                        continue
                    self.latencies.append(ms)
                    if read == "FA":
                        if value not in KNOB_HZ:
                            self.wrong += 1
                        self.frequency_reads.append((sent, value))
                # Each interval 10% either way, so that the programs' phases drift past each
                # other as separate programs' timers do, instead of colliding the same way for
                # the whole run; a tick missed while waiting for an answer is skipped.
                due += self.period * self.rng.uniform(0.9, 1.1)
                now = time.monotonic()
                if due < now:
                    due += self.period * math.ceil((now - due) / self.period)
        except OSError as e:
            self.error = str(e)
        finally:
            self.client.close()


def quantile(values, q):
    if not values:
        return float("nan")
    if len(values) == 1:
        return values[0]
    return statistics.quantiles(values, n=100, method="inclusive")[q - 1]


class Radio:
    """The simulated TS-2000, with its command counts and its log."""

    def __init__(self, bench, name, knob_ms):
        self.stats, self.log = bench.path(name + ".stats"), bench.path(name + ".log")
        self.device = bench.start_radio(name, "--family", "kenwood", "--baud", str(BAUD), "--delay",
                                        str(THINK_MS), "--knob", str(knob_ms), "--stats", self.stats,
                                        "--log", self.log)
        self.process = bench.children[-1]

    def counts(self):
        if os.path.exists(self.stats):
            os.remove(self.stats)
        self.process.send_signal(signal.SIGUSR1)
        if not wait_for(lambda: os.path.exists(self.stats), 3):
            fail("the radio simulator wrote no --stats")
        counts = {}
        for line in read(self.stats).splitlines():
            name, count = line.split()
            counts[name] = int(count)
        return counts

    def said(self):
        """What the radio wrote, a character at a time: (wall time of the write, character)."""
        today = datetime.date.today()
        out = []
        for line in read(self.log).splitlines():
            m = re.fullmatch(r"(\d\d:\d\d:\d\d\.\d+) -> .*\|(.*)\|", line)
            if m:
                clock = datetime.datetime.strptime(m.group(1), "%H:%M:%S.%f").time()
                t = datetime.datetime.combine(today, clock).timestamp()
                out.extend((t, c) for c in m.group(2))
        return out

    def events(self, what):
        """Wall times (epoch seconds) of the log's lines saying `what`, with the rest of the line."""
        today = datetime.date.today()
        out = []
        for line in read(self.log).splitlines():
            if what in line:
                clock = datetime.datetime.strptime(line[:12], "%H:%M:%S.%f").time()
                out.append((datetime.datetime.combine(today, clock).timestamp(), line.split(what, 1)[1].strip()))
        return out


def start_ovrin(bench, name, server, port, device, extra):
    """The server with extra options; None when it refuses one of them."""
    log = bench.path(name + ".server.log")
    child = subprocess.Popen([server, "--headless", "--config-dir", bench.path(name + ".conf"), "--port", str(port),
                              "--com", device, "--line", f"{BAUD},n,8,1", "--clients", "4",
                              "--keep-port-open", "on", *extra],
                             stderr=open(log, "w"), stdout=subprocess.DEVNULL)
    bench.children.append(child)
    if not wait_for(lambda: "Listening on TCP" in read(log) or child.poll() is not None):
        fail("the server did not start", log)
    if child.poll() is not None:
        if "unknown option" in read(log) or child.returncode == 2:
            return None, read(log).strip().splitlines()[-1:]
        fail("the server ended at start", log)
    return child, []


def start_rigctld(bench, name, device):
    log = bench.path(name + ".rigctld.log")
    child = subprocess.Popen(["rigctld", "-m", "2014", "-r", device, "-s", str(BAUD), "-T", "127.0.0.1",
                              "-t", str(RIGCTLD_PORT)], stderr=open(log, "w"), stdout=subprocess.DEVNULL)
    bench.children.append(child)

    def answers():
        try:
            c = Client(RIGCTLD_PORT, True)
            try:
                c.ask("FA")
                return True
            finally:
                c.close()
        except (OSError, Client.Missing, Client.Wrong):
            return False

    if not wait_for(answers, 15):
        fail("rigctld did not answer", log)
    return child


def knob_seen(radio, programs):
    """For each knob turn and each program reading the frequency: whether its first
    read sent after the turn (and before the next) gave the new frequency; and the
    same for its first read sent after the radio's report of the turn began on the
    line, and after that report was whole (None when the radio reported no turn:
    its reports are off)."""
    turns = [(t, int(rest.split()[-2])) for t, rest in radio.events("knob: VFO A to")]
    said = radio.said()
    text = "".join(c for _, c in said)
    counts = {"turn": [0, 0], "began": [0, 0], "ended": [0, 0]}
    at = 0
    for i, (t, hz) in enumerate(turns):
        after = turns[i + 1][0] if i + 1 < len(turns) else float("inf")
        starts = {"turn": t}
        # The report is the first FA of the new frequency, with the status word behind
        # it (an answer to FA; has none), that the radio wrote after the turn (the
        # log's clock is cut to the millisecond).
        while at < len(said) and said[at][0] < t - 0.001:
            at += 1
        found = text.find(f"FA{hz:011d};IF", at)
        if found >= 0 and said[found][0] < after:
            starts["began"], starts["ended"] = said[found][0], said[found + 13][0]
        for which, start in starts.items():
            for p in programs:
                # 3 ms: the log's clock is cut to the millisecond.
                nxt = next(((s, v) for s, v in p.frequency_reads if start + 0.003 < s < after), None)
                if nxt is None:
                    continue
                counts[which][1] += 1
                counts[which][0] += nxt[1] == hz
    return counts


def run_mix(port, rigctld, radio, seconds, rng):
    stop = threading.Event()
    programs = [Program(n, r, p, port, rigctld, stop, rng) for n, r, p in PROGRAMS]
    for p in programs:
        p.start()
    stop.wait(1.0)  # warm-up: every program has asked once
    before, t0 = radio.counts(), time.monotonic()
    for p in programs:
        p.latencies.clear()
        p.wrong = p.missing = 0
    stop.wait(seconds)
    after, elapsed = radio.counts(), time.monotonic() - t0
    stop.set()
    for p in programs:
        p.join(ANSWER_WAIT + 2)
    rates = {k: (after.get(k, 0) - before.get(k, 0)) / elapsed for k in after}
    return programs, {k: v for k, v in rates.items() if v > 0}


def run_keys(port, rigctld, radio, keys, rng):
    stop = threading.Event()
    readers = [Program(n, r, p, port, rigctld, stop, rng) for n, r, p in PROGRAMS if n in READERS_BEHIND_KEY]
    for p in readers:
        p.start()
    keyer = Client(port, rigctld)
    stop.wait(1.0)
    sent, refused = [], 0
    for _ in range(keys):
        sent.append(time.time())
        refused += not keyer.key(True)
        time.sleep(0.25)
        refused += not keyer.key(False)
        # Longer than the server's answer wait (250 ms) that a release may hold the
        # radio for, so that each key waits behind the readers, not behind its own release.
        time.sleep(rng.uniform(0.4, 0.7))
    time.sleep(0.3)
    stop.set()
    for p in readers:
        p.join(ANSWER_WAIT + 2)
    keyer.close()
    ons = [t for t, rest in radio.events("PTT") if rest == "on"]
    latencies = []
    for i, t in enumerate(sent):
        until = sent[i + 1] if i + 1 < len(sent) else float("inf")
        on = next((o for o in ons if t - 0.001 <= o < until), None)  # the log's clock is cut to the ms
        if on is not None:
            latencies.append(max(0.0, (on - t) * 1000))
    return latencies, refused, readers


def measure(bench, name, label, a, rng, extra=None):
    radio = Radio(bench, name, a.knob_ms)
    if extra is None:
        start_rigctld(bench, name, radio.device)
        port, rigctld = RIGCTLD_PORT, True
    else:
        port, rigctld = 4540 + len(bench.children), False
        server, refusal = start_ovrin(bench, name, os.path.join(a.build, "ovrin-server"), port, radio.device, extra)
        if server is None:
            print(f"\n== {label}\n  skipped: the server refuses {' '.join(extra)}: {' '.join(refusal)}")
            radio.process.terminate()
            return None
    programs, rates = run_mix(port, rigctld, radio, a.seconds, rng)
    keys, refused, readers = run_keys(port, rigctld, radio, a.keys, rng)
    knob = knob_seen(radio, programs)
    for child in bench.children[bench.children.index(radio.process):]:
        child.terminate()
    print(f"\n== {label}  (load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores)")
    print(f"  {'program':14} {'asks':10} {'n':>5} {'p50 ms':>7} {'p99 ms':>7} {'wrong':>6} {'missing':>8}")
    for p, (_, reads, period) in zip(programs, PROGRAMS):
        asks = " ".join(reads) + f" /{period:g}s"
        print(f"  {p.name_:14} {asks:10} {len(p.latencies):5} {quantile(p.latencies, 50):7.1f} "
              f"{quantile(p.latencies, 99):7.1f} {p.wrong:6} {p.missing:8}"
              + (f"  ({p.error})" if p.error else ""))
    asked = sum(len(r) / period for _, r, period in PROGRAMS)
    print(f"  the radio takes {sum(rates.values()):.1f} commands/s ({asked:.0f} asked): "
          + ", ".join(f"{k} {v:.1f}" for k, v in sorted(rates.items())))
    print(f"  knob turn seen by the next frequency read: {knob['turn'][0]}/{knob['turn'][1]}"
          + (f" (asked after the radio's report of it began: {knob['began'][0]}/{knob['began'][1]}; after it ended: "
             f"{knob['ended'][0]}/{knob['ended'][1]})" if knob["began"][1] else ""))
    behind = ", ".join(READERS_BEHIND_KEY)
    print(f"  key behind {behind}: {len(keys)}/{a.keys} seen by the radio, p50 {quantile(keys, 50):.1f} ms, "
          f"p90 {quantile(keys, 90):.1f} ms, max {max(keys, default=float('nan')):.1f} ms"
          f"{f', {refused} key commands refused' if refused else ''}; readers meanwhile: "
          f"{sum(r.wrong for r in readers)} wrong, {sum(r.missing for r in readers)} missing, "
          f"p99 {quantile([x for r in readers for x in r.latencies], 99):.1f} ms")
    return True


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--seconds", type=float, default=20, help="the mix's measured time per configuration")
    p.add_argument("--keys", type=int, default=20, help="keys (and releases) behind three readers")
    p.add_argument("--knob-ms", type=int, default=1500, help="the simulator's knob turns this often")
    p.add_argument("--config", action="append", default=[],
                   help="extra server options for one more configuration, e.g. --config=\"--cache-ms 500\" "
                        "(with '=': argparse takes a lone word that starts with - for an option)")
    p.add_argument("--no-rigctld", action="store_true", help="leave out rigctld")
    p.add_argument("--seed", type=int, default=1, help="the programs' phases and the keyer's pauses")
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    a = p.parse_args()
    sys.stdout.reconfigure(line_buffering=True)  # each configuration's figures as soon as they are in
    if not (0 < a.seconds <= 600 and 0 < a.keys <= 200):
        p.error("--seconds up to 600, --keys up to 200")
    enter_namespaces()
    rigctld = shutil.which("rigctld")
    if not rigctld and not a.no_rigctld:
        print("rigctld not found (Debian: libhamlib-utils); leaving it out")
    print(f"the simulated TS-2000 at {BAUD} baud ({10000 / BAUD:.2f} ms a character), {THINK_MS} ms to think; "
          f"{a.seconds:g} s of the mix per configuration, knob every {a.knob_ms} ms")
    rng = random.Random(a.seed)
    with Bench(os.path.join(a.build, "ovrin-server"), os.path.join(a.build, "ovrin-radio-sim")) as bench:
        configs = [[]] + [shlex.split(c) for c in a.config]
        for i, extra in enumerate(configs):
            measure(bench, f"ovrin{i}", " ".join(["ovrin-server --clients 4", *extra]), a, rng, extra)
        if rigctld and not a.no_rigctld:
            version = subprocess.run(["rigctld", "--version"], capture_output=True, text=True).stdout.strip()
            measure(bench, "rigctld", f"rigctld -m 2014 -s {BAUD} ({version})", a, rng)


main()
