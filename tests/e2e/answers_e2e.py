#!/usr/bin/python3
"""Each answer reaches its asker, and at once, through the built program with
--clients 3 in front of a simulated radio:
 - a reader that works as fldigi does (writes FA;, then reads whatever has come
   50 ms plus the reply's own time later, and takes that for the answer) beside a
   client setting the frequency every 100 ms: at least 39 of 40 answers whole at
   that read, and none of them ever reaches the setter;
 - a radio that takes 450 ms over one command (as a K3 does in a band change),
   asked by two clients at once, each its own command: every answer to its
   asker, in Kenwood text (FA; beside ID;) and in CI-V, where both clients use
   the same controller address and only the order tells the answers apart;
 - a client writing FA;FB;MD;IF; as fast as it can (reading and dropping what
   comes), and one writing garbage (capitals, digits and ';'), each beside two
   clients asking FA; every 50 ms, for 8 s on a radio paced at 9600 baud: every
   poller's answer its own, within 1 s, and nothing else reaching it.
    answers_e2e.py <ovrin-server> <ovrin-radio-sim> [modem shim, unused]"""
import random
import select
import socket
import string
import sys
import threading
import time

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, receive  # noqa: E402

enter_namespaces()
server, radio = sys.argv[1:3]
FA, ANSWER = b"FA;", b"FA00014074000;"
DELAY_MS, CHARACTER_MS = 20, 10 / 9.6  # the radio's answer time; 9600,n,8,1 on the line
READS, SET_EVERY_S = 40, 0.1


def client(port):
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def waiting(s):
    """Whatever has come, without waiting."""
    got = b""
    while select.select([s], [], [], 0)[0]:
        chunk = s.recv(4096)
        if not chunk:
            break
        got += chunk
    return got


def civ(*body, to=0x94, frm=0xE0):
    return bytes([0xFE, 0xFE, to, frm, *body, 0xFD])


with Bench(server, radio) as bench:
    # The fldigi-style reader beside a setter.
    pty = bench.start_radio("paced", "--delay", str(DELAY_MS), "--baud", "9600", "--log", bench.path("paced.log"))
    log = bench.start_server("paced", "--port", "4532", "--com", pty, "--line", "9600,n,8,1",
                             "--keep-port-open", "on", "--clients", "3")
    logs = [log, bench.path("paced.log")]
    reader, setter = client(4532), client(4532)
    stop = threading.Event()
    sets = []

    def set_frequency():
        while not stop.is_set():
            setter.sendall(b"FA00014074000;")
            sets.append(time.monotonic())
            stop.wait(SET_EVERY_S)

    setting = threading.Thread(target=set_frequency, daemon=True)
    setting.start()
    reply_s = (DELAY_MS + (len(FA) + len(ANSWER)) * CHARACTER_MS) / 1000
    whole, late = 0, []
    for i in range(READS):
        reader.sendall(FA)
        time.sleep(0.050 + reply_s)
        got = waiting(reader)
        if got == ANSWER:
            whole += 1
        else:
            # Read on, so that a late answer is not taken for the next one.
            rest = receive(reader, len(ANSWER) - len(got)) if len(got) < len(ANSWER) else b""
            late.append(f"read {i}: {got!r} then {rest!r}")
            if got + rest != ANSWER:
                fail(f"read {i}: {got + rest!r} instead of {ANSWER!r}", *logs)
        time.sleep(0.03)
    stop.set()
    setting.join()
    # The setter's own first question: an answer to the reader's that had gone
    # astray to it would have come before its answer.
    setter.sendall(b"ID;")
    leaked = receive(setter, len(b"ID019;"))
    if leaked != b"ID019;":
        fail(f"the setter, which asked nothing until ID;, got {leaked!r}", *logs)
    if whole < READS - 1:
        fail(f"{whole} of {READS} answers whole {1000 * (0.05 + reply_s):.0f} ms after FA; "
             f"beside {len(sets)} sets: {late}", *logs)
    reader.close()
    setter.close()
    fldigi = f"{whole} of {READS} answers whole {1000 * (0.05 + reply_s):.0f} ms after FA; beside {len(sets)} sets"

    # A slow command ahead of another client's.
    results = []
    for family, slow, a_ask, a_answer, b_ask, b_answer, mark, mark_answer in (
            ("kenwood", "FA:450", FA, ANSWER, b"ID;", b"ID019;", b"PS;", b"PS1;"),
            ("civ", "03:450", civ(0x03), civ(0x03, 0x00, 0x40, 0x07, 0x14, 0x00, to=0xE0, frm=0x94),
             civ(0x04), civ(0x04, 0x01, 0x01, to=0xE0, frm=0x94),
             civ(0x19, 0x00), civ(0x19, 0x00, 0x94, to=0xE0, frm=0x94))):
        port = 4533 + len(results)
        pty = bench.start_radio(family, "--family", family, "--delay", str(DELAY_MS), "--slow", slow,
                                "--log", bench.path(family + ".log"))
        log = bench.start_server(family, "--port", str(port), "--com", pty, "--line", "9600,n,8,1",
                                 "--keep-port-open", "on", "--clients", "3")
        logs = [log, bench.path(family + ".log")]
        a, b = client(port), client(port)
        right = 0
        for round_ in range(5):
            a.sendall(a_ask)
            b.sendall(b_ask)
            got_a, got_b = receive(a, len(a_answer)), receive(b, len(b_answer))
            # Then each asks a third thing: an answer that went astray came from the
            # radio before that one's, so it would stand in front of it.
            for s_ in (a, b):
                s_.sendall(mark)
            after_a, after_b = receive(a, len(mark_answer)), receive(b, len(mark_answer))
            if got_a != a_answer or got_b != b_answer or after_a != mark_answer or after_b != mark_answer:
                fail(f"{family} round {round_}: the slow command's asker got {got_a.hex(' ')} then "
                     f"{after_a.hex(' ')}, the other {got_b.hex(' ')} then {after_b.hex(' ')}", *logs)
            right += 1
        a.close()
        b.close()
        results.append(f"{family} {right} of 5")


    # A client that outruns the radio, or writes garbage, beside two pollers.
    def garbage():
        rng = random.Random(5)
        while True:
            # A digit first: never a command the radio obeys, always one it refuses.
            yield "".join(rng.choice("0123456789") + "".join(rng.choice(string.ascii_uppercase + string.digits)
                                                             for _ in range(rng.randrange(5)))
                          + ";" for _ in range(40)).encode()

    def pipelined():
        while True:
            yield b"FA;FB;MD;IF;" * 40

    RUN_S, POLL_S, WAIT_S = 8.0, 0.05, 1.0
    outrun = {}

    def station(name, port, writes):
        pty = bench.start_radio(name, "--delay", str(DELAY_MS), "--baud", "9600", "--log",
                                bench.path(name + ".radio.log"))
        log = bench.start_server(name, "--port", str(port), "--com", pty, "--line", "9600,n,8,1",
                                 "--keep-port-open", "on", "--clients", "3")
        logs = [log, bench.path(name + ".radio.log")]
        pollers = [client(port), client(port)]
        for p in pollers:  # the radio's language is known before the other client starts
            p.sendall(FA)
            if receive(p, len(ANSWER)) != ANSWER:
                outrun[name] = (f"{name}: the first FA; was not answered", logs)
                return
        end = time.monotonic() + RUN_S
        wrong = []
        answered = [0, 0]

        def flood():
            s = client(port)
            s.setblocking(False)
            pending = b""
            while time.monotonic() < end:
                select.select([s], [s], [], 0.1)
                try:
                    s.recv(65536)
                except BlockingIOError:
                    pass
                pending = pending or next(writes)
                try:
                    pending = pending[s.send(pending):]
                except BlockingIOError:
                    pass
            s.close()

        def poll(i, p):
            while time.monotonic() < end:
                asked = time.monotonic()
                p.sendall(FA)
                got = b""
                while not got.endswith(b";") and time.monotonic() - asked < WAIT_S:
                    got += receive(p, 1, WAIT_S - (time.monotonic() - asked))
                took = time.monotonic() - asked
                time.sleep(POLL_S)
                got += waiting(p)  # anything more would be another's
                if got != ANSWER or took > WAIT_S:
                    wrong.append(f"poller {i}: {got[:60]!r} after {took * 1000:.0f} ms")
                else:
                    answered[i] += 1

        threads = [threading.Thread(target=flood)] + [threading.Thread(target=poll, args=(i, p))
                                                      for i, p in enumerate(pollers)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(RUN_S + 10)
        outrun[name] = (f"{name}: {len(wrong)} of {len(wrong) + sum(answered)} answers wrong or late: {wrong[:5]}"
                        if wrong or not all(answered) else f"{name} {sum(answered)} of {sum(answered)}", logs)

    stations = [threading.Thread(target=station, args=("pipelined", 4540, pipelined())),
                threading.Thread(target=station, args=("garbage", 4541, garbage()))]
    for t in stations:
        t.start()
    for t in stations:
        t.join(RUN_S + 30)
    if len(outrun) != len(stations):
        fail("a station beside a client outrunning the radio did not finish")
    for name, (result, logs) in outrun.items():
        if not result.startswith(name + " "):
            fail(result, *logs)

print(f"answers_e2e: fldigi-style reader {fldigi}; a 450 ms command beside another, every answer to its "
      f"asker: " + ", ".join(results) + "; pollers' answers their own within 1 s beside a client outrunning the "
      f"radio: " + ", ".join(result for result, _ in outrun.values()))
