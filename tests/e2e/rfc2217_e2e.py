#!/usr/bin/python3
"""pyserial's rfc2217:// client against the built program's remote serial port,
with the modem-line shim standing in for a loopback plug on the radio's port:
the line as opened and changed (stty on the pty), data through a CAT radio,
all 256 byte values both ways through a loopback radio, RTS keying the
transmitter and CTS/DSR following, no key in a client's first second, the key
dropped when the client closes and when the transmit limit is reached.
    rfc2217_e2e.py <ovrin-server> <ovrin-radio-sim> <modem shim>"""
import subprocess
import sys
import time

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, wait_for  # noqa: E402

enter_namespaces()
import serial  # noqa: E402  (python3-serial)

server, radio, shim = sys.argv[1:4]
TX_LIMIT = 2


def lines_of(path):
    """The shim's log: (time, line, state) for each change of RTS or DTR."""
    out = []
    for row in read(path).splitlines():
        t, name, state = row.split()
        out.append((float(t), name, int(state)))
    return out


def stty(pty):
    return subprocess.run(["stty", "-F", pty, "-a"], capture_output=True, text=True).stdout


with Bench(server, radio, shim) as bench:
    cat_pty = bench.start_radio("cat", "--mode", "cat", "--delay", "0")
    loop_pty = bench.start_radio("loop", "--mode", "loopback")
    log = bench.start_server("cat", "--port", "50000", "--rfc2217-port", "50001", "--com", cat_pty,
                             "--line", "9600,n,8,1", "--ptt-rts", "on", "--keep-port-open", "on",
                             "--tx-limit", str(TX_LIMIT), ready="for remote serial port (RFC 2217) clients")
    shim_log = bench.path("cat.lines")
    logs = (log, shim_log)

    # Each waits for what must happen, with room for a loaded machine.
    def expect(condition, why, seconds=10.0):
        if not wait_for(condition, seconds):
            fail(why, *logs)

    def rts_log():
        return [(t, s) for t, name, s in lines_of(shim_log) if name == "RTS"]

    # Opened at 9600 8N2 while the port is at 9600 8N1: pyserial raises RTS and DTR
    # at open; RTS dropped at once must never reach the port.
    opened = time.monotonic()
    port = serial.serial_for_url("rfc2217://127.0.0.1:50001", baudrate=9600, bytesize=8, parity="N",
                                 stopbits=2, timeout=10)
    port.rts = False
    expect(lambda: " cstopb" in stty(cat_pty), "the client's 2 stop bits were not applied")
    expect(lambda: any(n == "DTR" and s == 1 for _, n, s in lines_of(shim_log)), "DTR never came up")
    dtr_up = next(t for t, n, s in lines_of(shim_log) if n == "DTR" and s == 1)
    if dtr_up - opened < 0.9:
        fail(f"DTR came up {dtr_up - opened:.2f} s after the open, inside its first second", *logs)
    # The loopback plug: DSR and CD follow DTR, CTS follows RTS.
    expect(lambda: port.dsr and port.cd and not port.cts, "DSR/CD did not follow DTR up")

    port.write(b"FA;")
    got = port.read(14)
    if got != b"FA00014074000;":
        fail(f"FA; was answered {got!r}", *logs)
    # The held lines were applied in one step, before this answer: RTS never moved.
    if rts_log():
        fail("RTS moved in the client's first second: " + str(rts_log()), *logs)

    port.baudrate = 4800
    expect(lambda: "speed 4800 baud" in stty(cat_pty), "the baud rate change was not applied")

    port.rts = True
    expect(lambda: rts_log()[-1:] and rts_log()[-1][1] == 1, "RTS on did not key the port")
    expect(lambda: port.cts, "CTS did not follow RTS up")
    port.rts = False
    expect(lambda: rts_log()[-1][1] == 0, "RTS off did not release the port")
    expect(lambda: not port.cts, "CTS did not follow RTS down")
    port.dtr = False
    expect(lambda: not port.dsr and not port.cd, "DSR/CD did not follow DTR down")

    # Held past the transmit limit: dropped, logged, and kept down until an off and on.
    port.rts = True
    expect(lambda: rts_log()[-1][1] == 1, "RTS did not key again after an off")
    keyed = rts_log()[-1][0]
    expect(lambda: rts_log()[-1][1] == 0, "the transmit limit did not drop RTS", TX_LIMIT + 10)
    held = rts_log()[-1][0] - keyed
    if held < TX_LIMIT - 0.1:  # how much later it dropped is the machine's, not a fault
        fail(f"RTS dropped after {held:.2f} s, before the {TX_LIMIT} s limit", *logs)
    expect(lambda: f"the transmit limit of {TX_LIMIT} s was reached" in read(log), "no log line for the limit")
    port.rts = False
    port.rts = True
    expect(lambda: rts_log()[-1][1] == 1, "RTS did not key after the limit and an off")

    # Closed while keyed: unkeyed, and the line back to the configured 9600 8N1.
    port.close()
    expect(lambda: rts_log()[-1][1] == 0, "closing while keyed left RTS up")
    expect(lambda: "speed 9600 baud" in stty(cat_pty) and " -cstopb" in stty(cat_pty),
           "the configured line was not restored after the client left")

    # Every byte value both ways, IAC among them, through a radio that echoes.
    loop_log = bench.start_server("loop", "--port", "50010", "--rfc2217-port", "50011", "--com", loop_pty,
                                  "--keep-port-open", "on", ready="for remote serial port (RFC 2217) clients")
    port = serial.serial_for_url("rfc2217://127.0.0.1:50011", baudrate=9600, timeout=10)
    sent = bytes(range(256)) * 4 + b"\xff\xff\r\n\x00\r"
    port.write(sent)
    got = port.read(len(sent))
    port.close()
    if got != sent:
        at = next((i for i, (a, b) in enumerate(zip(sent, got)) if a != b), min(len(sent), len(got)))
        fail(f"{len(got)} of {len(sent)} bytes came back, first difference at {at}", loop_log)

print(f"rfc2217_e2e: 9600 8N2 applied and restored, FA; answered, 4800 baud while open, RTS keyed and "
      f"released with CTS following, no key in the first second (DTR up after {dtr_up - opened:.2f} s), "
      f"limit dropped RTS after {held:.2f} s, close unkeyed, {len(sent)} bytes of every value echoed")
