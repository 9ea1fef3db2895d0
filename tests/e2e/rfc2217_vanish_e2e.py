#!/usr/bin/python3
"""A pyserial rfc2217:// client keys the transmitter from a second network
namespace, joined to the server's by a veth pair; then its link goes down, so
the server hears neither FIN nor RST. The key must drop within 15 s.
    rfc2217_vanish_e2e.py <ovrin-server> <ovrin-radio-sim> <modem shim>"""
import subprocess
import sys
import time

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, wait_for  # noqa: E402

enter_namespaces()
server, radio, shim = sys.argv[1:4]
LIMIT = 15.0

# The client keys once and holds, as a digital-mode program does, asking the
# radio's frequency now and then as such programs do while transmitting, so the
# connection carries data both ways up to the moment it vanishes.
CLIENT = """
import serial, sys, time
port = serial.serial_for_url("rfc2217://10.217.0.1:50001", timeout=0)
time.sleep(1.2)  # what a program sets at open is no key; it keys when it transmits
port.rts = True
print("keyed", flush=True)
while True:
    port.write(b"FA;")
    port.read(100)
    time.sleep(0.2)
"""


def sh(*args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode:
        fail(f"{' '.join(args)}: {done.stderr.strip()}")


with Bench(server, radio, shim) as bench:
    pty = bench.start_radio("cat", "--mode", "cat", "--delay", "0")
    log = bench.start_server("cat", "--port", "50000", "--rfc2217-port", "50001", "--com", pty,
                             "--ptt-rts", "on", "--keep-port-open", "on", "--tx-limit", "0",
                             ready="for remote serial port (RFC 2217) clients")
    shim_log = bench.path("cat.lines")

    def rts_changes():  # (time, state) of each change of RTS, as the shim logged it
        return [(float(t), int(s)) for t, name, s in (row.split() for row in read(shim_log).splitlines())
                if name == "RTS"]

    def rts():
        return rts_changes()[-1][1] if rts_changes() else 0

    # The client's namespace: a process that waits to be given a network.
    host = subprocess.Popen(["unshare", "-n", "sh", "-c", "echo in; read go; exec \"$0\" -c \"$1\"", sys.executable,
                             CLIENT], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    bench.children.append(host)
    if host.stdout.readline().strip() != "in":
        fail("no namespace for the client")
    sh("ip", "link", "add", "srv0", "type", "veth", "peer", "name", "cli0", "netns", str(host.pid))
    sh("ip", "addr", "add", "10.217.0.1/24", "dev", "srv0")
    sh("ip", "link", "set", "srv0", "up")
    inside = ["nsenter", "-t", str(host.pid), "-n", "ip"]
    sh(*inside, "addr", "add", "10.217.0.2/24", "dev", "cli0")
    sh(*inside, "link", "set", "cli0", "up")
    host.stdin.write("go\n")
    host.stdin.flush()
    if host.stdout.readline().strip() != "keyed":
        fail("the client did not open the port", log)
    if not wait_for(lambda: rts() == 1, 10.0):
        fail("the client's RTS did not key the port", log, shim_log)
    time.sleep(0.5)

    # The client's PC is gone: its end of the link down, nothing sent either way.
    sh(*inside, "link", "set", "cli0", "down")
    gone = time.monotonic()
    if not wait_for(lambda: rts() == 0, LIMIT + 15):
        fail(f"the transmitter was still keyed {LIMIT + 15:.0f} s after the client's network vanished", log, shim_log)
    # Timed by the shim's clock at the change itself, not by when this loop saw it.
    took = rts_changes()[-1][0] - gone
    if took > LIMIT:
        fail(f"the transmitter was unkeyed {took:.1f} s after the client's network vanished (limit {LIMIT:.0f} s)",
             log, shim_log)

print(f"rfc2217_vanish_e2e: keyed by a client whose network then vanished, unkeyed after {took:.1f} s")
