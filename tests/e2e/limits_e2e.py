#!/usr/bin/python3
"""The built program at the edges of what the system gives it, headless in front of
a simulated TS-2000:
 - --bind :: listens for IPv6 and IPv4 clients alike (dual stack), and the
   allow-list takes an IPv4 client's address as IPv4 (127.0.0.1, not
   ::ffff:127.0.0.1) while an IPv6 client not on it is refused;
 - a full descriptor table (the limit lowered under the running program with
   prlimit): the remote serial port listener cannot accept; the client trying is
   refused (closed, not left hanging), nobody is taken for gone, the client served
   keeps its answers, the failure is logged once, and once descriptors are there
   again the next client is served.
    limits_e2e.py <ovrin-server> <ovrin-radio-sim> [modem shim, unused]"""
import os
import resource
import select
import socket
import sys

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, wait_for  # noqa: E402

enter_namespaces()
server, radio = sys.argv[1:3]
FA, ANSWER = b"FA;", b"FA00014074000;"
PORT, COM_PORT = 50000, 50001


def connect(host, port):
    s = socket.create_connection((host, port), timeout=5)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def asked(s, seconds=3.0):
    """FA; answered through the server, with nothing else."""
    s.sendall(FA)
    got = b""
    while len(got) < len(ANSWER) and select.select([s], [], [], seconds)[0]:
        chunk = s.recv(4096)
        if not chunk:
            break
        got += chunk
    return got == ANSWER


def closed_by_server(s, seconds=3.0):
    try:
        return bool(select.select([s], [], [], seconds)[0]) and s.recv(64) == b""
    except ConnectionResetError:
        return True


def lowest_free_descriptor(pid):
    used = {int(n) for n in os.listdir(f"/proc/{pid}/fd")}
    free = 0
    while free in used:
        free += 1
    return free


with Bench(server, radio) as bench:
    pty = bench.start_radio("radio", "--delay", "0")

    # Dual stack, and the allow-list on the IPv4 form of a mapped address.
    log = bench.start_server("dual", "--port", str(PORT), "--com", pty, "--bind", "::", "--allow", "127.0.0.1",
                             "--clients", "2")
    v4 = connect("127.0.0.1", PORT)
    if not asked(v4):
        fail("an IPv4 client was not served with --bind ::", log)
    v6 = connect("::1", PORT)
    if not closed_by_server(v6) or not wait_for(lambda: "Client ::1 refused: not on the allow-list" in read(log)):
        fail("an IPv6 client not on the allow-list was not refused", log)
    if "::ffff:" in read(log):
        fail("an IPv4 client's address was logged in its mapped form", log)
    v4.close()
    bench.children.pop().terminate()

    log = bench.start_server("full", "--port", str(PORT), "--com", pty, "--clients", "2", "--bind", "::",
                             "--rfc2217-port", str(COM_PORT), ready="for remote serial port (RFC 2217) clients")
    pid = bench.children[-1].pid
    served = connect("127.0.0.1", PORT)
    if not asked(served):
        fail("the first client was not served", log)
    soft, hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)
    resource.prlimit(pid, resource.RLIMIT_NOFILE, (lowest_free_descriptor(pid), hard))
    for attempt in range(3):
        try:
            refused = connect("127.0.0.1", COM_PORT)
        except OSError as e:
            fail(f"the listener no longer listens after a failed accept ({e})", log)
        if not closed_by_server(refused):
            fail("a client the server had no descriptor for was left hanging", log)
        refused.close()
    if not wait_for(lambda: "Cannot accept a connection on TCP port %d: Out of resources" % COM_PORT in read(log)):
        fail("the failed accept was not logged", log)
    if not asked(served):
        fail("the client served lost its answers while descriptors were short", log)
    resource.prlimit(pid, resource.RLIMIT_NOFILE, (soft, hard))
    # Tried again within a quarter of a second of the last failure.
    late = None
    for attempt in range(20):
        late = connect("127.0.0.1", COM_PORT)
        if not closed_by_server(late, 0.5):
            break
        late.close()
        late = None
    if late is None or not wait_for(lambda: "(slot 2, connection" in read(log) and "connected" in read(log)):
        fail("the listener did not serve the next client once descriptors were there", log)
    text = read(log)
    if text.count("Cannot accept a connection") != 1 or " lost" in text or " left" in text.split("Cannot accept")[1]:
        fail("the failure was not logged once, or was taken for a client leaving", log)
    if not asked(served):
        fail("the client served lost its answers after the failure", log)
    print("PASS")
