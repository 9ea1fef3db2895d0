#!/usr/bin/python3
"""The status page of the built program headless, read as its visitors read it:
 - /status.json while two clients are connected and one keys by CAT: the state,
   the serial port, both clients with their bytes, the transmitter and who keyed
   it, then the record of the transmission once released;
 - / is the same facts as a page that refreshes itself without JavaScript too,
   the two clients from one address told apart by their connections;
 - an address not on the allow-list gets nothing, not even an error status, and
   the page listens on the --bind address only;
 - 2,000 connect-and-close rounds in a row: no attempt dropped from a full
   queue (which its system would try again only a second later);
 - nothing on the port changes anything: other methods are refused, an unknown
   path gets a plain error status, oversized (a 100 KB query string: 414) and
   malformed requests are refused and logged once a minute;
 - with "browser": Debian's chromium, headless, driven by selenium: without
   JavaScript the page reloads itself to show a new client; with it, it shows
   ON-LINE and the client's address, and a new client within 2 s without a
   reload (skipped when chromium cannot start); with OVRIN_STATUS_SHOT set, its screenshot there.
    status_e2e.py <ovrin-server> <ovrin-radio-sim> [modem shim] [browser]"""
import json
import os
import socket
import sys
import time
import urllib.error
import urllib.request

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, wait_for  # noqa: E402

enter_namespaces()
server, radio = sys.argv[1:3]
browser = "browser" in sys.argv[3:]
PORT, STATUS = 4532, 8080
REFUSED = "192.0.2.10"  # an address of this namespace the allow-list leaves out
URL = f"http://127.0.0.1:{STATUS}"


def get(path, **headers):
    request = urllib.request.Request(URL + path, headers=headers)
    try:
        with urllib.request.urlopen(request, timeout=5) as r:
            return r.status, r.headers, r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read().decode()


def status():
    return json.loads(get("/status.json")[2])


def raw(data, source=None):
    """What the port answers to bytes sent as they are, until it closes."""
    s = socket.create_connection(("127.0.0.1", STATUS), timeout=5, source_address=(source, 0) if source else None)
    try:
        s.sendall(data)
        got = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return got
            got += chunk
    except (ConnectionResetError, BrokenPipeError):
        return got
    finally:
        s.close()


def client():
    s = socket.create_connection(("127.0.0.1", PORT))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def check(ok, why):
    if not ok:
        fail(why, log)


def the_page_in_a_browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        print("SKIPPED: python3-selenium is not installed")
        sys.exit(77)
    def chromium(javascript):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--window-size=1000,1100", "--user-data-dir=" + bench.path(f"chromium-{javascript}")):
            options.add_argument(argument)
        if not javascript:
            options.add_experimental_option("prefs", {"profile.managed_default_content_settings.javascript": 2})
        try:
            return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        except Exception as e:  # noqa: BLE001 - any way chromium fails to start is a skip
            print(f"SKIPPED: chromium cannot start: {e}")
            sys.exit(77)

    rows = lambda: len(driver.find_elements("css selector", "#status table tr"))  # noqa: E731
    # Without JavaScript: the page reloads itself.
    driver = chromium(False)
    try:
        driver.get(URL + "/")
        driver.execute_script("window.ovrinMarker = 1")
        before = rows()
        third = client()
        check(wait_for(lambda: rows() > before, 4.0), "without JavaScript the page did not show a new client in 4 s")
        check(driver.execute_script("return window.ovrinMarker") is None, "without JavaScript the page was not reloaded")
        third.close()
        check(wait_for(lambda: len(status()["clients"]) == 2, 3), "the third client's leaving never showed")
    finally:
        driver.quit()
    driver = chromium(True)
    try:
        driver.get(URL + "/")
        text = lambda: driver.find_element("id", "status").text  # noqa: E731
        check(wait_for(lambda: "ON-LINE" in text() and "127.0.0.1" in text(), 5), "the page lacks ON-LINE or 127.0.0.1")
        driver.execute_script("window.ovrinMarker = 1")
        before = rows()
        third = client()
        third.sendall(b"FA;")
        since = time.monotonic()
        check(wait_for(lambda: rows() > before, 2.0), f"the page did not show the new client within 2 s ({text()})")
        print(f"new client shown after {time.monotonic() - since:.2f} s")
        check(driver.execute_script("return window.ovrinMarker") == 1, "the page was reloaded rather than updated")
        if os.environ.get("OVRIN_STATUS_SHOT"):
            time.sleep(1.2)
            driver.save_screenshot(os.environ["OVRIN_STATUS_SHOT"])
        third.close()
    finally:
        driver.quit()


os.system(f"ip addr add {REFUSED}/32 dev lo")
with Bench(server, radio) as bench:
    radio_log = bench.path("radio.log")
    pty = bench.start_radio("radio", "--family", "kenwood", "--delay", "20", "--log", radio_log)
    log = bench.start_server("server", "--port", str(PORT), "--com", pty, "--line", "9600,n,8,1",
                             "--keep-port-open", "on", "--clients", "3", "--cat", "kenwood",
                             "--status-port", str(STATUS), "--allow", "127.0.0.0/8", "--bind", "127.0.0.1")
    check(wait_for(lambda: "Status page (read-only) on TCP port 8080" in read(log)), "no status page")
    first, second = client(), client()
    first.sendall(b"FA;")
    check(wait_for(lambda: len(first.recv(100)) > 0), "the radio did not answer")
    second.sendall(b"TX;")
    check(wait_for(lambda: status()["transmitter"]["keyed"], 3), "the page never showed the transmitter keyed")

    s = status()
    check(s["state"] == "ON-LINE", f"state {s['state']}")
    check(s["serial_port"]["device"] == pty and s["serial_port"]["open"] and s["serial_port"]["line"] == "9600,n,8,1",
          f"serial port {s['serial_port']}")
    clients = s["clients"]
    check([c["address"] for c in clients] == ["127.0.0.1", "127.0.0.1"], f"clients {clients}")
    check([c["language"] for c in clients] == ["Kenwood", "Kenwood"], f"languages {clients}")
    check(clients[0]["bytes_in"] == 3 and clients[0]["bytes_out"] == len(b"FA00014074000;"), f"bytes {clients[0]}")
    check(clients[1]["bytes_in"] == 3, f"bytes {clients[1]}")
    tx = s["transmitter"]
    check(tx["client"] == clients[1]["label"] and tx["how"] == "CAT (Kenwood TX;)", f"transmitter {tx}")
    check(any(c["text"].startswith(clients[1]["label"] + " connected") for c in s["log"]), "the log's lines lack the client")

    code, headers, page = get("/")
    check(code == 200 and headers["Content-Type"].startswith("text/html"), f"/ answered {code}")
    check('<meta http-equiv="refresh"' in page and "<h1>ON-LINE</h1>" in page and "TRANSMITTING" in page,
          "the page lacks its refresh without JavaScript or the state")
    # Two clients from one address, told apart by their connections.
    for c in clients:
        cell = f"<td>127.0.0.1</td><td>slot {c['slot']}, connection {c['connection']}</td>"
        check(cell in page and f"(slot {c['slot']}, connection {c['connection']})" in c["label"],
              f"the page lacks {cell}")

    second.sendall(b"RX;")
    check(wait_for(lambda: not status()["transmitter"]["keyed"], 3), "the release never showed")
    record = status()["transmissions"]
    check(len(record) == 1 and record[0]["ended"] == "released by CAT (Kenwood RX;)", f"record {record}")

    # Read-only, and plain about what it does not serve.
    for method in ("POST", "PUT", "DELETE"):
        answer = raw(f"{method} / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n".encode())
        check(answer.startswith(b"HTTP/1.1 405"), f"{method} answered {answer[:40]}")
    code, headers, body = get("/nothing")
    check(code == 404 and headers["Content-Type"].startswith("text/plain") and body == "404 Not Found\n",
          f"an unknown path answered {code} {body!r}")
    def refused(request, kind):
        answer = raw(request)
        check(answer.startswith(b"HTTP/1.1 4"), f"{kind} request answered {answer[:40]}")
    oversized = b"GET / HTTP/1.1\r\nHost: x\r\nX-Filler: " + b"a" * 20000 + b"\r\n\r\n"
    malformed = b"\x16\x03\x01 not http at all\r\n\r\n"
    refused(oversized, "an oversized")
    check(wait_for(lambda: "Status page: an oversized request from 127.0.0.1 refused" in read(log), 3),
          "the oversized request was not logged")
    # A request line longer than the whole budget is told why, not just closed.
    answer = raw(b"GET /status.json?" + b"q=1&" * 25000 + b" HTTP/1.1\r\nHost: x\r\n\r\n")
    check(answer.startswith(b"HTTP/1.1 414 URI Too Long\r\n") and answer.endswith(b"\r\n\r\n414 URI Too Long\n"),
          f"a 100 KB query string answered {answer[:60]!r}")
    refused(malformed, "a malformed")
    check(wait_for(lambda: "Status page: a malformed request from 127.0.0.1 refused" in read(log), 3),
          "the malformed request was not logged")
    for _ in range(5):
        refused(oversized, "an oversized")
        refused(malformed, "a malformed")

    # Not on the allow-list: not a byte, not even a refusal.
    check(raw(b"GET /status.json HTTP/1.1\r\nHost: x\r\n\r\n", source=REFUSED) == b"",
          "an address not on the allow-list got an answer")
    check(wait_for(lambda: f"a visitor from {REFUSED} refused: not on the allow-list" in read(log), 3),
          "the refused visitor was not logged")
    # Its line comes from the loop's look at what visitors did after the faults above
    # were counted, and a third client's connecting is logged after that look: had
    # any fault been logged again, it would be there by then.
    third = client()
    check(wait_for(lambda: "connection 3) connected" in read(log), 3), "the third client was not logged")
    third.close()
    check(wait_for(lambda: len(status()["clients"]) == 2, 3), "the third client's leaving never showed")
    check(read(log).count("oversized request") + read(log).count("malformed request") == 2,
          "a visitor's faults were logged more than once a minute")
    # Listening on the --bind address only.
    try:
        socket.create_connection((REFUSED, STATUS), timeout=2).close()
        check(False, f"the status page answered on {REFUSED}, not the --bind address")
    except ConnectionRefusedError:
        pass
    check(status()["state"] == "ON-LINE" and len(status()["clients"]) == 2, "the page changed the server")

    # Visitors coming faster than the accept thread is scheduled: not one attempt
    # dropped from a full queue, to be tried again by its system only a second later.
    def overflows():
        with open("/proc/net/netstat") as f:
            names, values = [line.split() for line in f if line.startswith("TcpExt:")]
        return int(values[names.index("ListenOverflows")])

    def answers():
        try:
            return status()["state"] == "ON-LINE"
        except OSError:  # turned away while the rounds' connections are still being closed
            return False

    dropped, since = overflows(), time.monotonic()
    for _ in range(2000):
        socket.create_connection(("127.0.0.1", STATUS)).close()
    took = time.monotonic() - since
    check(overflows() == dropped, f"{overflows() - dropped} of 2,000 connection attempts dropped from a full queue")
    check(wait_for(answers, 10), "the page did not answer after 2,000 connect-and-close rounds")
    print(f"2,000 connect-and-close rounds in {took:.2f} s")

    if browser:
        the_page_in_a_browser()
    first.close()
    second.close()
print("status page: OK")
