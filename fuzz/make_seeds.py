#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets into fuzz/corpus/.

Run again after changing an input format; the files are checked in. Inputs that
the fuzzer found later sit beside them under hash names."""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


def field(text: bytes, width: int) -> bytes:
    return text[:width].ljust(width, b" ")


def record(interbyte=b"100 mS", baud=b"9600", bits=b"8", parity=b"None", stop=b"2", port=b"50000",
           listen=1, com=b"COM1", dtr=b"0", rts=b"0", keep_open=b"1", ptt=b"0", bridge=b"0",
           tail=b"\0" * 955) -> bytes:
    r = (b" " * 40 + field(interbyte, 7) + field(baud, 6) + field(bits, 1) + field(parity, 5) +
         field(stop, 1) + field(port, 5) + struct.pack("<h", listen) + field(com, 6) +
         dtr + rts + keep_open + ptt + bridge + tail)
    assert len(r) == 1033, len(r)
    return r


SETTINGS = {
    "defaults": record(),
    "stored-offline-com3": record(interbyte=b"250 mS", baud=b"4800", bits=b"7", parity=b"Odd", stop=b"1",
                                  port=b"4532", listen=0, com=b"com3", dtr=b"1", keep_open=b"0", ptt=b"1",
                                  bridge=b"1", tail=bytes(i * 7 % 256 for i in range(955))),
    "ptt-and-keep-open": record(listen=0, rts=b"1", ptt=b"1", keep_open=b"1"),
    "flags-two": record(listen=0, dtr=b"2", rts=b"2", keep_open=b"2", ptt=b"2"),
    "bad-flag": record(dtr=b"7"),
    "flag-blank": record(rts=b" ", ptt=b"\0"),
    "list-index-7": record(listen=7),
    "list-index-minus-1": record(listen=-1),
    "list-index-default": record(listen=2),
    "port-not-a-number": record(port=b"abcde"),
    "port-too-large": record(port=b"99999"),
    "port-zero": record(port=b"0"),
    "usb-port-name": record(com=b"USB1"),
    "latin1-text": record(listen=0, baud=b"\xe9\xe9", parity=b"\xff", com=b"COM\xe9"),
    "latin1-host-port": record(listen=0, port=b"\xe9\xe9\xe9"),
    "all-zero": b"\0" * 1033,
    "all-blank": b" " * 1033,
    "empty": b"",
    "one-byte": b"x",
    "length-1032": record()[:1032],
    "length-1034": record() + b"\0",
}

# Data path operations, in the order of the target's Op enumeration.
(CONNECT, SENDS, SENDS_PTT, RADIO, ECHO, ECHO_ANSWER, ADVANCE, PEER_CLOSES, ERROR, TOGGLE_PTT,
 TOGGLE_BACKLOG, SELECT, SEND_WHILE_BOX) = range(13)
CLIENT1, CLIENT2, CLIENT3 = 0, 1, 2
KEY, RELEASE = 0, 1


def sends(client, data: bytes) -> bytes:
    return bytes([SENDS, client, len(data)]) + data


def radio(data: bytes) -> bytes:
    return bytes([RADIO, len(data)]) + data


def advance(ms: int) -> bytes:
    return bytes([ADVANCE]) + struct.pack("<H", ms)


def program(answer_yes: bool, *ops: bytes) -> bytes:
    return bytes([0xFF if answer_yes else 0x00]) + b"".join(ops)


DATAPATH = {
    "echo-then-answer": program(False, bytes([CONNECT, 1]), sends(CLIENT1, b"FA;"), bytes([ECHO]), advance(50),
                                radio(b"FA00014074000;"), advance(50)),
    "echo-with-answer-in-one-block": program(False, bytes([CONNECT, 1]), sends(CLIENT1, b"IF;"),
                                             bytes([ECHO_ANSWER, 4]) + b"IF1;", advance(50)),
    "ptt-yes": program(True, bytes([CONNECT, 1]), bytes([SENDS_PTT, CLIENT1, KEY]), advance(5000),
                       bytes([SENDS_PTT, CLIENT1, RELEASE]), bytes([SENDS_PTT, CLIENT1, ord("2")]),
                       bytes([SENDS_PTT, CLIENT1, KEY]), advance(3100), advance(3100), advance(3100),
                       advance(3100)),
    "ptt-no": program(False, bytes([CONNECT, 1]), bytes([SENDS_PTT, CLIENT1, KEY]), sends(CLIENT1, b"\x1b\x1bath1"),
                      bytes([TOGGLE_PTT]), bytes([SENDS_PTT, CLIENT1, KEY]), advance(50)),
    "ptt-split-while-paused": program(True, bytes([CONNECT, 1, TOGGLE_BACKLOG]), sends(CLIENT1, b"\x1b\x1bAT"),
                                      sends(CLIENT1, b"H1"), bytes([TOGGLE_BACKLOG]), advance(50)),
    "parking-three-clients": program(False, bytes([CONNECT, 1, CONNECT, 2, CONNECT, 3]), sends(CLIENT1, b"FA;"),
                                     sends(CLIENT2, b"FB;"), sends(CLIENT3, b"MD;"), sends(CLIENT2, b"FC;"),
                                     bytes([ECHO]), radio(b"FA7;"), advance(50), bytes([ECHO]), advance(50),
                                     radio(b"FC9;"), advance(50), advance(3000)),
    "answer-time-outs": program(False, bytes([CONNECT, 1, CONNECT, 2]), sends(CLIENT1, b"FA;"),
                                sends(CLIENT2, b"FB;"), advance(2999), advance(1), advance(3000),
                                radio(b"late;"), advance(50)),
    "backlog-pauses-and-resumes": program(False, bytes([CONNECT, 1, TOGGLE_BACKLOG]), sends(CLIENT1, b"FA;"),
                                          sends(CLIENT1, b"FB;"), advance(100), bytes([TOGGLE_BACKLOG]),
                                          advance(50)),
    "close-and-error": program(False, bytes([CONNECT, 1, CONNECT, 2]), sends(CLIENT2, b"FA;"),
                               bytes([PEER_CLOSES, CLIENT2]), radio(b"FA1;"), advance(50),
                               bytes([ERROR, 1, CONNECT, 9]), sends(CLIENT1, b"FB;"), bytes([ERROR, 0]),
                               bytes([CONNECT, 4])),
    "offline-then-listen": program(False, bytes([CONNECT, 1]), sends(CLIENT1, b"FA;"), bytes([SELECT, 0]),
                                   bytes([TOGGLE_PTT, SELECT, 1, CONNECT, 2]), sends(CLIENT1, b"FB;"),
                                   advance(50)),
    "data-while-question-open": program(True, bytes([CONNECT, 1, CONNECT, 2]),
                                        bytes([SEND_WHILE_BOX, CLIENT2, 1, 3]) + b"FA;",
                                        bytes([SENDS_PTT, CLIENT1, KEY]), advance(50)),
    "six-clients": program(False, *[bytes([CONNECT, n]) for n in range(6)], sends(CLIENT3, b"x" * 200),
                           bytes([ERROR, 0]), advance(3100)),
}


DATAPATH.update({
    "kenwood-keying-and-ai": program(False, bytes([CONNECT, 1, CONNECT, 2]), sends(CLIENT1, b"AI1;TX;"),
                                     sends(CLIENT2, b"TX;AI0;AI;"), radio(b"FA00014074000;"), advance(300),
                                     bytes([PEER_CLOSES, CLIENT1]), advance(50), sends(CLIENT2, b"RX;ID;"),
                                     radio(b"ID019;"), advance(50)),
    "civ-frames-and-echo": program(False, bytes([CONNECT, 1, CONNECT, 2]),
                                   sends(CLIENT1, b"\xfe\xfe\x94\xe0\x03\xfd"),
                                   sends(CLIENT2, b"\xfe\xfe\x94\xe0\x1c\x00\x01\xfd"), bytes([ECHO]),
                                   radio(b"\xfe\xfe\xe0\x94\x03\x00\x40\x07\x14\x00\xfd"),
                                   radio(b"\xfe\xfe\x00\x94\x00\x00\x40\x07\x14\x00\xfd"), advance(50)),
    "yaesu-byte-by-byte": program(False, bytes([CONNECT, 1]), sends(CLIENT1, b"\x00"), advance(1),
                                  sends(CLIENT1, b"\x00\x00\x00"), advance(1), sends(CLIENT1, b"\x03"),
                                  radio(b"\x01\x40"), advance(1), radio(b"\x74\x00\x01"), sends(CLIENT1, b"\x00\x00\x00\x00\x08"),
                                  advance(200)),
})

# The remote serial port's telnet stream, after the byte that chooses the splits.
IAC, SB, SE, WILL, DO = 255, 250, 240, 251, 253
def sub(code: int, value: bytes) -> bytes:
    return bytes([IAC, SB, 44, code]) + value.replace(b"\xff", b"\xff\xff") + bytes([IAC, SE])


RFC2217 = {
    "pyserial-open": b"\x05" + bytes([IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 44]) +
                     sub(1, struct.pack(">I", 9600)) + sub(2, b"\x08") + sub(3, b"\x01") + sub(4, b"\x01") +
                     sub(5, b"\x01") + sub(5, b"\x0b") + b"FA;" + sub(0, b"") + sub(12, b"\x03"),
    "iac-in-data": b"\x00" + b"ab\xff\xffcd\xff\xff\xff\xff" + sub(1, b"\x00\x00\xff\xff"),
    "bad-sub": b"\x03" + bytes([IAC, SB, 44, 1, IAC, 7]) + b"rest",
    "long-sub": b"\x01" + bytes([IAC, SB, 44, 0]) + b"x" * 300 + bytes([IAC, SE]),
    "signature-and-masks": b"\x02" + sub(0, b"client 1.0") + sub(10, b"\xff") + sub(11, b"\x00") + sub(7, b""),
}


def write(folder: str, seeds: dict) -> None:
    target = HERE / "corpus" / folder
    target.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (target / f"seed-{name}").write_bytes(data)


if __name__ == "__main__":
    write("settings", SETTINGS)
    write("datapath", DATAPATH)
    write("rfc2217", RFC2217)
