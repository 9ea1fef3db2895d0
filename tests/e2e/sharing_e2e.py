#!/usr/bin/python3
"""Three hamlib rigctl clients (Kenwood TS-2000) share one simulated radio through
the built program with --clients 3. Each polls its own thing, so an answer given
to the wrong client shows: FA (14.074 MHz), FB (7.074 MHz), the mode (USB).
Checked: each client gets its answers, none wrong and none missing (hamlib retries
nothing here and tells a missing answer as an error); then a fourth client sends
set commands the radio never answers, every 300 ms, and the other two still get
their own answers and only those. Each phase waits until every client has had
OVRIN_SHARING_ANSWERS answers (default 100), however long a loaded machine takes;
how fast they come, alone and shared, and what the silent sets cost the others are
figures of the benchmark (bench/bench.sh --only shared).
    sharing_e2e.py <ovrin-server> <ovrin-radio-sim> [modem shim, unused]"""
import os
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, wait_for  # noqa: E402

enter_namespaces()
server, radio = sys.argv[1:3]
ANSWERS = int(os.environ.get("OVRIN_SHARING_ANSWERS", "100"))
DEADLINE_S = 60 + ANSWERS * 0.5  # for a phase: a stalled client, not a slow machine
PORT = 4532


class Rigctl:
    """One rigctl process repeating one command; its answers counted, others kept."""

    def __init__(self, name, command, want, vfo=False):
        self.name, self.want, self.count, self.wrong = name, want, 0, []
        master, slave = os.openpty()  # a terminal: rigctl writes each answer at once
        args = ["rigctl", "-m", "2014", "-r", f"127.0.0.1:{PORT}", "-C", "cache_timeout=0", "-C", "retry=0",
                # hamlib's 200 ms for a TS-2000 is shorter than a turn behind a silent
                # command; a missing answer shows however long this is
                "-C", "timeout=5000"] + (["-o"] if vfo else []) + ["-"]
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
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for line in lines:
                text = line.decode(errors="replace").split()
                if text and text[-1] == self.want:
                    self.count += 1
                elif text and text != ["2200"]:  # the passband after the mode
                    self.wrong.append(" ".join(text))

    def stop(self):
        self.child.kill()
        self.child.wait(5)


def answered(clients, since, n):
    """Every client has had n answers more than it had at `since`."""
    return all(c.count >= since[c.name] + n for c in clients)


def check(clients, logs):
    for c in clients:
        errors = read(c.errors).strip()
        if c.wrong or errors:
            fail(f"{c.name}: wrong answers {c.wrong[:5]}, errors: {errors[:400]}", *logs)


with Bench(server, radio) as bench:
    pty = bench.start_radio("radio", "--mode", "cat", "--delay", "20")
    log = bench.start_server("server", "--port", str(PORT), "--com", pty, "--line", "9600,n,8,1",
                             "--keep-port-open", "on", "--clients", "3", "--answer-wait", "250")
    with socket.create_connection(("127.0.0.1", PORT)) as s:
        s.sendall(b"FB00007074000;FB;")  # VFO B apart from A, and read back
        s.settimeout(10)
        heard = b""
        while b"FB00007074000;" not in heard:
            try:
                more = s.recv(100)
            except OSError:
                more = b""
            if not more:
                fail(f"VFO B was not set: {heard!r}", log)
            heard += more

    clients = [Rigctl("fa", "f", "14074000"), Rigctl("fb", "f VFOB", "7074000", vfo=True),
               Rigctl("mode", "m", "USB")]
    logs = [log] + [c.errors for c in clients]
    start = time.monotonic()
    since = {c.name: 0 for c in clients}
    if not wait_for(lambda: answered(clients, since, ANSWERS) or any(c.wrong for c in clients), DEADLINE_S):
        fail("not every client got its answers: " + ", ".join(f"{c.name} {c.count}" for c in clients), *logs)
    check(clients, logs)
    shared_s = time.monotonic() - start

    # The third program gives way to one whose commands the radio never answers (a
    # set, as most radios treat them), every 300 ms.
    clients[2].stop()
    two = clients[:2]
    with socket.create_connection(("127.0.0.1", PORT)) as setter:
        setter.sendall(b"FA00014074000;")
        since = {c.name: c.count for c in two}
        end = time.monotonic() + DEADLINE_S
        while not answered(two, since, ANSWERS // 4) and not any(c.wrong for c in two):
            if time.monotonic() > end:
                fail("beside the silent sets, not every client got its answers: " +
                     ", ".join(f"{c.name} {c.count - since[c.name]}" for c in two), *logs)
            time.sleep(0.3)
            setter.sendall(b"FA00014074000;")
    for c in two:
        c.stop()
    check(clients, logs)

print(f"sharing_e2e: three clients, {ANSWERS} answers each ({shared_s:.1f} s), then two beside silent sets, "
      f"{ANSWERS // 4} more each: no wrong or missing answer")
