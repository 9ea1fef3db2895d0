#!/usr/bin/python3
"""The options a user sets, end to end on the built program: a restart without
options keeps the allow-list, the client limit, the remote serial port and the
rest (and acts on them); a typo in the file's allow-list stops the service with
the file, the line and the reason, and leaves the line as written; --list-ports on pseudo-terminals linked as COM names up
to COM20, and a link to a device that is not there; the demo script (which
./run.sh --demo runs) passing --port and --rfc2217-port to the server.
    settings_e2e.py <ovrin-server> <ovrin-radio-sim> <modem shim>"""
import os
import socket
import subprocess
import sys

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, wait_for  # noqa: E402

enter_namespaces()
import serial  # noqa: E402  (python3-serial)

server, radio = sys.argv[1:3]
source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def connect(port, source_address=None):
    s = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=source_address)
    s.settimeout(5)
    return s


def closed_by_server(s):
    try:
        return s.recv(1) == b""
    except (ConnectionResetError, socket.timeout):
        return False


def ask(s, command, length):
    s.sendall(command)
    answer = b""
    while len(answer) < length:
        piece = s.recv(length - len(answer))
        if not piece:
            break
        answer += piece
    return answer


with Bench(server, radio) as bench:
    # An address of our own beside 127.0.0.1, outside the allow-list.
    subprocess.run(["ip", "addr", "add", "192.0.2.7/32", "dev", "lo"], check=True)
    pty = bench.start_radio("cat", "--mode", "cat", "--delay", "0")

    # --- given once, kept: the second start has no options but the folder ---
    first = bench.start_server("keep", "--port", "50010", "--com", pty, "--keep-port-open", "on",
                               "--allow", "127.0.0.1", "--clients", "2", "--rfc2217-port", "50011",
                               "--answer-wait", "400", "--tx-limit", "60", "--cat", "kenwood", "--ptt-line", "dtr")
    bench.children[-1].terminate()
    if bench.children[-1].wait(10) != 0 or "Ended" not in read(first):
        fail("the first run did not end cleanly", first)
    conf = read(bench.path("keep/Ovrin-Server.conf"))
    for line in ("clients = 2", "allow = 127.0.0.1", "rfc2217-port = 50011", "answer-wait = 400",
                 "tx-limit = 60", "cat = kenwood", "ptt-line = dtr"):
        if line not in conf.splitlines():
            fail(f"Ovrin-Server.conf lacks \"{line}\"", bench.path("keep/Ovrin-Server.conf"))
    os.rename(first, bench.path("keep.first.log"))
    log = bench.start_server("keep", ready="for remote serial port (RFC 2217) clients")
    expected = ("Options in effect: up to 2 clients, from 127.0.0.1 only; answer wait 400 ms; remote serial port "
                "(RFC 2217) on TCP port 50011; no status page; transmit limit 60 s; command language Kenwood")
    if expected not in read(log) or "PTT on DTR" not in read(log):
        fail("the restart did not state the kept options", log)
    # Acted on, not only stated: two clients answered, a third refused with the
    # reason, an address off the list closed at once; the remote serial port serves.
    clients = [connect(50010), connect(50010)]
    for c in clients:
        if ask(c, b"FA;", 14) != b"FA00014074000;":
            fail("a client within the kept limit got no answer", log)
    third = connect(50010)
    if not closed_by_server(third):
        fail("a third client was not refused with --clients 2 kept", log)
    if not wait_for(lambda: "refused: the limit of 2 clients is reached" in read(log)):
        fail("the refusal did not say why", log)
    stranger = connect(50010, ("192.0.2.7", 0))
    if not closed_by_server(stranger):
        fail("an address off the kept allow-list was not refused", log)
    if not wait_for(lambda: "192.0.2.7 refused: not on the allow-list" in read(log)):
        fail("the allow-list refusal did not say why", log)
    for c in clients + [third, stranger]:
        c.close()
    remote = serial.serial_for_url("rfc2217://127.0.0.1:50011", baudrate=9600, timeout=5)
    remote.write(b"ID;")
    if remote.read(6) != b"ID019;":
        fail("the kept remote serial port did not reach the radio", log)
    remote.close()

    # --- a typo in the file's allow-list: nobody served, the line kept ---
    typo = bench.path("typo")
    os.makedirs(typo)
    written = "# the club's network\nallow = 10.0.0.0/33\n"
    with open(os.path.join(typo, "Ovrin-Server.conf"), "w") as f:
        f.write(written)
    run = subprocess.run([server, "--headless", "--config-dir", typo, "--port", "50030", "--com", pty],
                         capture_output=True, text=True, timeout=20)
    if run.returncode != 2 or "Not started: the allow-list in " + typo + "/Ovrin-Server.conf cannot be used " \
            "(allow = \"10.0.0.0/33\"" not in run.stderr or "line 2: allow" not in run.stderr:
        fail(f"a typo in the file's allow-list did not stop the service ({run.returncode}):\n{run.stderr}")
    if not read(os.path.join(typo, "Ovrin-Server.conf")).startswith(written):
        fail("the user's lines in the options file were not kept", os.path.join(typo, "Ovrin-Server.conf"))
    try:
        connect(50030).close()
        fail("something listens on the port of the service that did not start")
    except ConnectionRefusedError:
        pass

    # --- --list-ports: links up to COM20, one to nothing ---
    ports = bench.path("ports")
    other = bench.start_radio("other", "--mode", "loopback")
    os.makedirs(os.path.join(ports, "dosdevices"))
    for name, target in (("com3", pty), ("COM20", other), ("com17", bench.path("unplugged"))):
        os.symlink(target, os.path.join(ports, "dosdevices", name))
    listed = subprocess.run([server, "--config-dir", ports, "--list-ports"], capture_output=True, text=True,
                            timeout=20)
    rows = {line.split()[0]: line for line in listed.stdout.splitlines() if line.startswith("COM")}
    expectations = {"COM3": pty + " (" + ports + "/dosdevices/com3)", "COM20": other + " (" + ports + "/dosdevices/COM20)"}
    if listed.returncode != 0:
        fail(f"--list-ports ended with {listed.returncode}: {listed.stderr}")
    for name, device in expectations.items():
        if name not in rows or device not in rows[name] or not rows[name].endswith("can be opened"):
            fail(f"--list-ports: {name} not listed as {device}, can be opened:\n{listed.stdout}")
    if "COM17" not in rows or "cannot be opened: No such file or directory" not in rows["COM17"]:
        fail("--list-ports: COM17, linked to a device that is not there, not said so:\n" + listed.stdout)

    # --- the demo: its own radio, the server on the ports given ---
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["OVRIN_BUILD_DIR"] = os.path.dirname(server)
    env["TMPDIR"] = bench.folder
    demo_log = bench.path("demo.log")
    demo = subprocess.Popen([os.path.join(source, "scripts", "demo.sh"), "--port", "50020", "--rfc2217-port", "50021"],
                            stdout=open(demo_log, "w"), stderr=subprocess.STDOUT, env=env)
    bench.children.append(demo)
    if not wait_for(lambda: "for remote serial port (RFC 2217) clients" in read(demo_log), 20):
        fail("the demo's server did not serve the remote serial port", demo_log)
    remote = serial.serial_for_url("rfc2217://127.0.0.1:50021", baudrate=9600, timeout=5)
    remote.write(b"FA;")
    if remote.read(14) != b"FA00014074000;":
        fail("the demo's remote serial port did not reach its radio", demo_log)
    remote.close()
    demo.terminate()
    if demo.wait(10) != 143 or any(n.startswith("ovrin-demo-") for n in os.listdir(bench.folder)):
        fail("the demo did not end and clean up when asked", demo_log)

print("settings kept over a restart and acted on; --list-ports on pseudo-terminals; the demo's options")
