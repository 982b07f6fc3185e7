#!/usr/bin/env python3
"""Writes the seed corpora of the harnesses from an emulated machine made by kvxsim.

usage: make_seeds.py KVXSIM OUTDIR

The harnesses read their inputs with FuzzedDataProvider: byte runs from the front, numbers and
choices from the back. The seeds are laid out accordingly.
"""
import os
import struct
import subprocess
import sys
import tempfile

kvxsim, out = sys.argv[1], sys.argv[2]
SECTOR = 512
REQUEST = 1466  # the request record


def write(surface, name, data):
    folder = os.path.join(out, surface)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def machine(tmp, name, *args):
    path = os.path.join(tmp, name)
    subprocess.run([kvxsim, "create", path, "--password", "Secret42", "--hint", "the usual one",
                    *args], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(path, "devices", "0")


def tail(path, sectors, back):
    """`sectors` sectors starting `back` sectors before the end of an image file."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        f.seek(size - back * SECTOR)
        return f.read(sectors * SECTOR)


with tempfile.TemporaryDirectory() as tmp:
    flash = machine(tmp, "flash", "--media", "flash")
    hdd = machine(tmp, "hdd", "--aes-engine", "yes", "--wrap", "aes", "--wrap-required", "yes")

    # Block regions as stored: flash in the medium's last ten sectors under the zero key.
    region = tail(os.path.join(flash, "medium.img"), 10, 10)
    write("data_block", "flash_region", bytes(16) + region + bytes([10, 1]))
    write("data_block", "flash_region_plain", bytes(16) + region + bytes([10, 0]))
    write("data_block", "empty", b"")

    for name, dev in (("flash", flash), ("hdd", hdd)):
        with open(os.path.join(dev, "state"), "rb") as f:
            write("sim_files", "state_" + name, f.read())
    with open(os.path.join(tmp, "flash", "machine"), "rb") as f:
        write("sim_files", "machine", f.read())
    for i, fault in enumerate([b"fail 20:CF count=1 sense=05/24/00 value=0",
                               b"short * count=2 sense=00/00/00 value=4",
                               b"hub-status * count=1 sense=00/00/00 value=1"]):
        write("sim_files", "fault%d" % i, fault)

# Configuration files: the library's keys, in the encodings a user's editor may save.
config = ("[VENDOR]\r\nVENDORSTR0=KVXSIM\r\nPRODUCTSTR0=VIRTUAL CD\r\nSECVENDORSTR0=KVXSIM\r\n"
          "SECPRODUCTSTR0=VIRTUAL DISK\r\nVID0=0x1209\r\nPID0=0x0001\r\nAES=YES\r\n"
          "Secure Volume Label=SECURE\r\n[Inq_ChipNum]\r\nChipNum0=3B11\r\n")
write("config", "utf8", config.encode())
write("config", "utf16le", b"\xff\xfe" + config.encode("utf-16-le"))
write("config", "utf16be", b"\xfe\xff" + config.encode("utf-16-be"))
write("config", "cp1252", "[VENDOR]\nPRODUCTSTR0=Caf\u00e9 \"quoted\"\n; note\n".encode("cp1252"))

# Key sequences of a terminal.
for i, keys in enumerate([b"Secret42\r", b"\t\t\x1b[Z\r", b"\x1bo\x1bc", b"\x1b[A\x1b[B\x1b[C",
                          "\u00e9\u20ac\U0001F600".encode(), b"\x7f\x08\x03\x04", b"\xc0\xaf\xed\xa0\x80"]):
    write("terminal_keys", "keys%d" % i, keys)

# Stamp records and image streams: a record's fields, then an image holding the marker.
record = bytearray(b"\x00" * 160)
record[12:14] = struct.pack("<H", 64)
write("cd_image", "marker_only", bytes(16) + b"\x00" * 2 + b"....C3B655AA" + b"\xab" * 40)
write("cd_image", "record", bytes(16) + bytes(record) + b"C3B655AA" + b"\x00" * 40)

# Whole exports: the record (password "Secret42", hint, change and format operation), then the
# choices read from the back: export, drive-letter choice, keep-letter choice, medium.
def request(op):
    r = bytearray(REQUEST)
    r[36] = ord("E")
    r[71:71 + 18] = "Secret42".encode("utf-16-le") + b"\x00\x00"
    r[1163:1163 + 28] = "the usual one".encode("utf-16-le") + b"\x00\x00"
    r[129:131] = struct.pack("<H", 1)
    r[1465] = op
    return bytes(r)

for export in range(14):
    for media in (0, 1):
        write("device_answers", "export%02d_%s" % (export, "hdd" if media == 0 else "flash"),
              request(4 if export == 10 else 3) + bytes([export, 1, 1, media]))
write("hub", "empty", b"")
write("hub", "secure", bytes([1, 0]))
