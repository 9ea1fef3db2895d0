#!/usr/bin/python3
"""Roles and allowed bands through the built program, checked against the
simulated radio's own state and its record of its transmitter ("PTT on" in its
log). Three addresses on the private loopback, one entry each:
--allow 192.0.2.2=monitor,192.0.2.3=operate,127.0.0.1=transmit
--tx-allowed 14000000-14350000:
 - hamlib's rigctl (TS-2000) as each: the monitor reads the frequency and its set
   is refused; the operator sets it, and its T 1 keys nothing;
 - rigctl T 1 from the transmit address is refused on 7.074 MHz (logged with the
   frequency and the ranges) and obeyed on 14.074 MHz, the record naming the role
   and the frequency; a raw client's TX; on a frequency told long ago is decided
   on a read made just before it;
 - a raw monitor sends random Kenwood commands, and another, against an IC-7300,
   random CI-V frames: the radio's frequency, mode and transmitter are as before,
   and each monitor is still served after them.
    roles_e2e.py <ovrin-server> <ovrin-radio-sim> [modem shim, unused] [commands] [frames]"""
import random
import socket
import subprocess
import sys
import time

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, receive, wait_for  # noqa: E402

enter_namespaces()
server, radio = sys.argv[1:3]
COMMANDS = int(sys.argv[4]) if len(sys.argv) > 4 else 1000
FRAMES = int(sys.argv[5]) if len(sys.argv) > 5 else 200
PORT, CIV_PORT = 50000, 50010
ALLOW = "192.0.2.2=monitor,192.0.2.3=operate,127.0.0.1=transmit"
MONITOR, OPERATOR, TRANSMITTER = "192.0.2.2", "192.0.2.3", "127.0.0.1"
# Addresses of our own beside 127.0.0.1: a connection to one comes from it.
for address in (MONITOR, OPERATOR):
    subprocess.run(["ip", "addr", "add", address + "/32", "dev", "lo"], check=True)
rng = random.Random(7)


def rigctl(address, *command):
    """rigctl as a client from `address` (a connection to a local address comes
    from it): its output, and whether it said every command went."""
    run = subprocess.run(["rigctl", "-m", "2014", "-r", f"{address}:{PORT}", *command],
                         capture_output=True, text=True, timeout=30)
    return run.stdout.strip(), run.returncode == 0 and "error" not in run.stderr.lower()


def connect(address, port):
    s = socket.create_connection((address, port), timeout=5)
    return s


def until(s, ending, seconds=10.0):
    """What comes until `ending` has come (or the time is up)."""
    got, end = b"", time.monotonic() + seconds
    while ending not in got and time.monotonic() < end:
        chunk = receive(s, 1, max(0.0, end - time.monotonic()))
        if not chunk:
            break
        got += chunk
    return got


def random_kenwood():
    names = ["FA", "FB", "MD", "TX", "RX", "AI", "FR", "FT", "SA", "SM", "ID", "IF", "PS", "KY", "AC", "EX", "MW",
             "SR", "UP", "DN", "BU", "BD", "AN", "PC", "ZZ"]
    name = rng.choice(names) if rng.random() < 0.8 else "".join(rng.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ") for _ in range(2))
    body = "".join(rng.choice("0123456789") for _ in range(rng.choice([0, 0, 1, 2, 3, 11, 12])))
    if rng.random() < 0.1:
        body += "".join(rng.choice("ABC xyz+-") for _ in range(rng.randint(1, 5)))
    return (name + body + ";").encode()


def random_civ():
    body = bytes(rng.choice([rng.randrange(0x00, 0x28), rng.randrange(0, 0xFD)]) for _ in range(rng.randint(1, 8)))
    return bytes([0xFE, 0xFE, 0x94, 0xE0]) + body.replace(b"\xfd", b"\x00").replace(b"\xfe", b"\x01") + b"\xfd"


def civ(*body, to=0x94, frm=0xE0):
    return bytes([0xFE, 0xFE, to, frm, *body, 0xFD])


with Bench(server, radio) as bench:
    pty = bench.start_radio("ts2000", "--family", "kenwood", "--log", bench.path("ts2000.radio-log"))
    log = bench.start_server("roles", "--port", str(PORT), "--com", pty, "--clients", "5", "--allow", ALLOW,
                             "--tx-allowed", "14000000-14350000")
    radio_log = bench.path("ts2000.radio-log")

    # The monitor reads; its set is refused and the radio stays where it is.
    out, ok = rigctl(MONITOR, "f")
    if not ok or out != "14074000":
        fail(f"the monitor could not read the frequency: {out!r}", log)
    rigctl(MONITOR, "F", "7074000")  # hamlib sends a set without waiting for an answer
    if rigctl(TRANSMITTER, "f")[0] != "14074000":
        fail("the monitor's frequency set went to the radio", log)
    if not wait_for(lambda: "(monitor): Kenwood FA00007074000; refused: a monitor may only read" in read(log)):
        fail("the monitor's refusal was not logged", log)

    # The operator tunes, and keys nothing.
    _, ok = rigctl(OPERATOR, "F", "7074000")
    if not ok or rigctl(OPERATOR, "f")[0] != "7074000":
        fail("the operator's frequency set did not go", log)
    rigctl(OPERATOR, "T", "1")
    if "PTT on" in read(radio_log) or not wait_for(lambda: "role may not transmit" in read(log) or
                                                    "(operate): Kenwood TX" in read(log)):
        fail("the operator keyed the radio, or its refusal was not logged", log, radio_log)

    # Outside the band: refused at the transmit address too.
    _, ok = rigctl(TRANSMITTER, "f", "T", "1")
    time.sleep(0.3)
    if "PTT on" in read(radio_log):
        fail("the transmitter keyed on 7.074 MHz", log, radio_log)
    if not wait_for(lambda: "outside the allowed bands: 7.074000 MHz, allowed 14000000-14350000 Hz" in read(log)):
        fail("the refusal outside the band was not logged as such", log)

    # Inside: obeyed, the record naming the role and the frequency.
    rigctl(OPERATOR, "F", "14074000")
    # Past the 500 ms the operator's set is trusted for: the key is decided on what
    # the radio says (rigctl reads it as it opens).
    time.sleep(0.6)
    out, ok = rigctl(TRANSMITTER, "T", "1")
    if not ok or not wait_for(lambda: "PTT on" in read(radio_log)):
        fail(f"rigctl T 1 on 14.074 MHz was not obeyed ({out!r})", log, radio_log)
    if not wait_for(lambda: "role transmit, on 14.074000 MHz" in read(log)):
        fail("the transmission's record lacks the role or the frequency", log)
    rigctl(TRANSMITTER, "T", "0")
    if not wait_for(lambda: "PTT off" in read(radio_log)):
        fail("the release did not reach the radio", log, radio_log)

    # A raw client's key on a frequency told long ago: read again just before it.
    time.sleep(0.6)
    k = connect(TRANSMITTER, PORT)
    k.sendall(b"TX;")
    if not wait_for(lambda: read(radio_log).count("PTT on") == 2):
        fail("a key on a stale frequency inside the band was not obeyed", log, radio_log)
    k.sendall(b"RX;")
    if not wait_for(lambda: read(radio_log).count("PTT off") == 2):
        fail("the raw client's release did not reach the radio", log, radio_log)
    k.close()
    keyings = read(radio_log).count("PTT on")

    # Random commands from a monitor change nothing it may not change.
    before = rigctl(TRANSMITTER, "f", "m", "t")[0]
    m = connect(MONITOR, PORT)
    for i in range(COMMANDS):
        m.sendall(random_kenwood())
        if i % 50 == 49:
            receive(m, 1 << 16, 0.05)  # it reads what it is answered, as a program does
    m.sendall(b"FA;")
    if b"FA00014074000;" not in until(m, b"FA00014074000;", 30):
        fail("the monitor was not served after its random commands", log)
    after = rigctl(TRANSMITTER, "f", "m", "t")[0]
    if after != before or read(radio_log).count("PTT on") != keyings:
        fail(f"random commands from a monitor changed the radio: {before!r} -> {after!r}", log, radio_log)
    m.close()

    # The same for CI-V frames, against an IC-7300 behind a program of its own.
    civ_pty = bench.start_radio("ic7300", "--family", "civ", "--log", bench.path("ic7300.radio-log"))
    civ_log = bench.start_server("civ", "--port", str(CIV_PORT), "--com", civ_pty, "--clients", "5", "--allow", ALLOW)
    t = connect(TRANSMITTER, CIV_PORT)
    state = civ(0x03) + civ(0x04) + civ(0x1C, 0x00)

    def civ_state():
        t.sendall(state)
        got = until(t, civ(0x1C, 0x00, 0x00, to=0xE0, frm=0x94), 10)
        return got

    civ_before = civ_state()
    m = connect(MONITOR, CIV_PORT)
    for i in range(FRAMES):
        m.sendall(random_civ())
        if i % 20 == 19:
            receive(m, 1 << 16, 0.05)
    m.sendall(civ(0x03))
    if civ(0x03, 0x00, 0x40, 0x07, 0x14, 0x00, to=0xE0, frm=0x94) not in until(
            m, civ(0x03, 0x00, 0x40, 0x07, 0x14, 0x00, to=0xE0, frm=0x94), 30):
        fail("the CI-V monitor was not served after its random frames", civ_log)
    civ_after = civ_state()
    if civ_after != civ_before or "PTT on" in read(bench.path("ic7300.radio-log")):
        fail(f"random frames from a monitor changed the radio: {civ_before.hex()} -> {civ_after.hex()}", civ_log)
    print(f"roles_e2e: {COMMANDS} random Kenwood commands and {FRAMES} random CI-V frames from monitors changed "
          "nothing; T 1 refused on 7.074 MHz, obeyed on 14.074 MHz")
