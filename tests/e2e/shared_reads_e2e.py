#!/usr/bin/python3
"""Reads shared among the clients, through the built program with --clients 3 in
front of the simulated radio, in each command language:
 - two clients asking the same read at once (the radio taking 150 ms over it):
   both answered, each in its own form (CI-V: to its own controller address),
   and the radio asked once (its --stats);
 - one client sets the frequency, another reads it at once: the radio's value,
   rounded to its 10 Hz step, never the value asked for, and the read goes to
   the radio.
    shared_reads_e2e.py <ovrin-server> <ovrin-radio-sim> [modem shim, unused]"""
import os
import signal
import socket
import sys

sys.path.insert(0, sys.path[0])
from e2e_common import Bench, enter_namespaces, fail, read, receive, wait_for  # noqa: E402

enter_namespaces()
server, radio = sys.argv[1:3]
DELAY_MS = 150  # long enough for the second read to come while the first is in flight


def civ(*body, frm=0xE0):
    return bytes([0xFE, 0xFE, 0x94, frm, *body, 0xFD])


def civ_answer(*body, to=0xE0):
    return bytes([0xFE, 0xFE, to, 0x94, *body, 0xFD])


# Per family: the read, the answer to each of two askers (the second asking as
# itself), the read's and the set's names in --stats, a frequency set of
# 14.074123 MHz (the 5-byte family: 14.07412) and the read's answer after it
# (rounded to 14.074120).
FAMILIES = {
    "kenwood": ([b"FA;", b"FA;"], [b"FA00014074000;", b"FA00014074000;"], "FA", "FA", b"FA00014074123;", None,
                b"FA00014074120;"),
    "civ": ([civ(0x03), civ(0x03, frm=0xE1)],
            [civ_answer(0x03, 0x00, 0x40, 0x07, 0x14, 0x00), civ_answer(0x03, 0x00, 0x40, 0x07, 0x14, 0x00, to=0xE1)],
            "03", "05", civ(0x05, 0x23, 0x41, 0x07, 0x14, 0x00, frm=0xE1), civ_answer(0xFB, to=0xE1),
            civ_answer(0x03, 0x20, 0x41, 0x07, 0x14, 0x00)),
    "ft817": ([bytes([0, 0, 0, 0, 0x03])] * 2, [bytes([0x01, 0x40, 0x74, 0x00, 0x01])] * 2, "03", "01",
              bytes([0x01, 0x40, 0x74, 0x12, 0x01]), bytes([0x00]), bytes([0x01, 0x40, 0x74, 0x12, 0x01])),
}


def client(port):
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def counts(process, stats):
    if os.path.exists(stats):
        os.remove(stats)
    process.send_signal(signal.SIGUSR1)
    if not wait_for(lambda: os.path.exists(stats), 3):
        fail("the radio simulator wrote no --stats")
    return {name: int(n) for name, n in (line.split() for line in read(stats).splitlines())}


with Bench(server, radio) as bench:
    for port, (family, (reads, answers, name, set_name, set_freq, set_answer, rounded)) in enumerate(
            FAMILIES.items(), 4540):
        stats = bench.path(family + ".stats")
        pty = bench.start_radio(family, "--family", family, "--delay", str(DELAY_MS), "--step", "10", "--stats",
                                stats)
        process = bench.children[-1]
        log = bench.start_server(family, "--port", str(port), "--com", pty, "--line", "9600,n,8,1",
                                 "--keep-port-open", "on", "--clients", "3")
        first, second = client(port), client(port)
        # Each recognised by a command of its own first (the 5-byte family by its
        # first whole command; a Kenwood or CI-V client by its first command).
        before = counts(process, stats).get(name, 0)
        first.sendall(reads[0])
        second.sendall(reads[1])
        for who, s, want in (("first", first, answers[0]), ("second", second, answers[1])):
            got = receive(s, len(want))
            if got != want:
                fail(f"{family}: the {who} asker got {got.hex()} for {want.hex()}", log)
        asked = counts(process, stats).get(name, 0) - before
        if asked != 1:
            fail(f"{family}: two askers at once cost the radio {asked} reads, not 1", log)
        # A set, then (once the radio has it) the other client's read, within the
        # window of the first answer: the radio's rounded value, from the radio.
        was = counts(process, stats)
        second.sendall(set_freq)
        if set_answer is not None and receive(second, len(set_answer)) != set_answer:
            fail(f"{family}: the set was not acknowledged", log)
        if not wait_for(lambda: counts(process, stats).get(set_name, 0) > was.get(set_name, 0), 3):
            fail(f"{family}: the set never reached the radio", log)
        reads_before = counts(process, stats).get(name, 0)
        first.sendall(reads[0])
        got = receive(first, len(rounded))
        if got != rounded:
            fail(f"{family}: the read after a set gave {got.hex()}, not the radio's {rounded.hex()}", log)
        if counts(process, stats).get(name, 0) - reads_before != 1:
            fail(f"{family}: the read after a set did not go to the radio", log)
        first.close()
        second.close()
        print(f"{family}: two askers, one read; after a set the radio's rounded value")
print("PASS")
