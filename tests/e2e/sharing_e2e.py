#!/usr/bin/python3
"""Three hamlib rigctl clients (Kenwood TS-2000) share one simulated radio through
the built program with --clients 3. Each polls its own thing, so an answer given
to the wrong client shows: FA (14.074 MHz), FB (7.074 MHz), the mode (USB).
Checked: no wrong or missing answer (hamlib retries nothing here), each client's
rate at least a third of one client's alone, and a fourth client sending set
commands the radio never answers delays the others by no more than the answer
wait. The shared run lasts OVRIN_SHARING_S seconds (default 10; 30 for the long
check).
    sharing_e2e.py <ovrin-server> <ovrin-radio-sim> [modem shim, unused]"""
import os
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read  # noqa: E402

enter_namespaces()
server, radio = sys.argv[1:3]
SHARED_S = float(os.environ.get("OVRIN_SHARING_S", "10"))
ALONE_S, SETTER_S, ANSWER_WAIT_MS = 3.0, 4.0, 250
PORT = 4532


class Rigctl:
    """One rigctl process repeating one command; the time each answer line came."""

    def __init__(self, name, command, want, vfo=False):
        self.name, self.want, self.times, self.wrong = name, want, [], []
        master, slave = os.openpty()  # a terminal: rigctl writes each answer at once
        args = ["rigctl", "-m", "2014", "-r", f"127.0.0.1:{PORT}", "-C", "cache_timeout=0", "-C", "retry=0",
                # hamlib's 200 ms for a TS-2000 is shorter than a turn behind a silent command
                "-C", "timeout=1500"] + (["-o"] if vfo else []) + ["-"]
        self.errors = bench.path(name + ".err")
        self.child = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=slave, stderr=open(self.errors, "w"))
        os.close(slave)
        threading.Thread(target=self.feed, args=((command + "\n").encode() * 100,), daemon=True).start()
        threading.Thread(target=self.read, args=(master,), daemon=True).start()

    def feed(self, commands):
        try:
            while True:
                self.child.stdin.write(commands)
                self.child.stdin.flush()
        except (BrokenPipeError, ValueError, OSError):
            pass

    def read(self, fd):
        pending = b""
        while True:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                return
            if not chunk:
                return
            now = time.monotonic()
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for line in lines:
                text = line.decode(errors="replace").split()
                if text and text[-1] == self.want:
                    self.times.append(now)
                elif text and text != ["2200"]:  # the passband after the mode
                    self.wrong.append(" ".join(text))

    def stop(self):
        self.child.kill()
        self.child.wait(5)

    def between(self, start, end):
        return [t for t in self.times if start <= t < end]


def rate(times):
    return (len(times) - 1) / (times[-1] - times[0]) if len(times) > 1 else 0.0


def max_gap(times):
    return max((b - a for a, b in zip(times, times[1:])), default=0.0)


with Bench(server, radio) as bench:
    pty = bench.start_radio("radio", "--mode", "cat", "--delay", "20")
    log = bench.start_server("server", "--port", str(PORT), "--com", pty, "--line", "9600,n,8,1",
                             "--keep-port-open", "on", "--clients", "3", "--answer-wait", str(ANSWER_WAIT_MS))
    with socket.create_connection(("127.0.0.1", PORT)) as s:
        s.sendall(b"FB00007074000;")  # VFO B apart from A
        time.sleep(0.4)

    alone = Rigctl("alone", "f", "14074000")
    time.sleep(ALONE_S + 0.5)
    alone.stop()
    single = rate(alone.times)

    clients = [Rigctl("fa", "f", "14074000"), Rigctl("fb", "f VFOB", "7074000", vfo=True),
               Rigctl("mode", "m", "USB")]
    time.sleep(1.0)  # all three past their opening commands
    start = time.monotonic()
    time.sleep(SHARED_S)
    shared_end = time.monotonic()
    # The third program gives way to one whose commands the radio never answers (a
    # set, as most radios treat them), every 300 ms.
    clients[2].stop()
    with socket.create_connection(("127.0.0.1", PORT)) as setter:
        while time.monotonic() < shared_end + SETTER_S:
            setter.sendall(b"FA00014074000;")
            time.sleep(0.3)
        end = time.monotonic()
    for c in clients[:2]:
        c.stop()

    logs = [log] + [c.errors for c in clients]
    report = []
    for c in clients:
        shared, set_phase = c.between(start, shared_end), c.between(shared_end + 0.5, end)
        errors = read(c.errors).strip()
        if c.wrong or errors:
            fail(f"{c.name}: wrong answers {c.wrong[:5]}, errors: {errors[:400]}", *logs)
        # The radio answers one command at a time, so a third is all that sharing can
        # give when the turns cost nothing; 5 % is left for the machine's noise.
        if rate(shared) < 0.95 * single / 3:
            fail(f"{c.name}: {rate(shared):.1f} answers/s shared, under a third of {single:.1f} alone", *logs)
        line = f"{c.name} {len(shared)} answers, {rate(shared):.1f}/s, longest wait {max_gap(shared) * 1000:.0f} ms"
        if set_phase:
            added_ms = (max_gap(set_phase) - max_gap(shared)) * 1000
            if added_ms > ANSWER_WAIT_MS + 50:
                fail(f"{c.name}: the silent commands delayed it by {added_ms:.0f} ms, over the answer wait", *logs)
            line += f", {max_gap(set_phase) * 1000:.0f} ms beside the silent sets"
        report.append(line)

print(f"sharing_e2e: one client alone {single:.1f} answers/s; three for {SHARED_S:.0f} s, no wrong or missing "
      f"answer: " + "; ".join(report))
