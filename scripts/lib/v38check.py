#!/usr/bin/python3
"""What the check scripts compute, written once.

    v38check.py random-config FILE SEED         a configuration file of random bytes
    v38check.py edit-config SOURCE OUT EDIT...  SOURCE's image edited, its CRC renewed;
                                                EDIT is OFFSET=VALUE or OFFSET-=BITS
                                                (bits that must be set, then cleared)
    v38check.py silent-ports LINK...            pseudo-terminals that never answer, each
                                                linked at LINK, held until killed
    v38check.py utf16-holds FILE TEXT           status 0 when FILE holds TEXT in UTF-16
                                                (as Windows shortcuts keep their strings)
    v38check.py minimal-dpkg-status OUT         the dpkg status of a minimal Debian: the
                                                essential and required packages installed
                                                here, with what they depend on
"""
import os
import pty
import random
import re
import signal
import sys

IMAGE_SIZE = 512


def crc16(data, crc=0xFFFF):
    """CRC-16/MODBUS, as the configuration file stores it (low byte first)."""
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def write_config(path, image):
    crc = crc16(image)
    with open(path, "wb") as out:
        out.write(bytes(image) + bytes([crc & 0xFF, crc >> 8]))


def random_config(path, seed):
    generator = random.Random(int(seed))
    write_config(path, bytes(generator.randrange(256) for _ in range(IMAGE_SIZE)))


def edit_config(source, out, *edits):
    with open(source, "rb") as f:
        image = bytearray(f.read()[:IMAGE_SIZE])
    for edit in edits:
        if "-=" in edit:
            offset, bits = (int(x, 0) for x in edit.split("-="))
            if image[offset] & bits != bits:
                sys.exit(f"edit-config: byte {offset} of {source} lacks the bits {bits:#04x}")
            image[offset] &= ~bits
        else:
            offset, value = (int(x, 0) for x in edit.split("="))
            image[offset] = value
    write_config(out, image)


def silent_ports(*links):
    masters = []
    for link in links:
        master, slave = pty.openpty()
        os.symlink(os.ttyname(slave), link)
        os.close(slave)
        masters.append(master)
    signal.pause()


def utf16_holds(path, text):
    with open(path, "rb") as f:
        sys.exit(0 if text.encode("utf-16-le") in f.read() else 1)


def minimal_dpkg_status(out):
    with open("/var/lib/dpkg/status") as f:
        entries = [s for s in f.read().split("\n\n") if s.strip()]
    installed = {}
    for text in entries:
        fields = dict(re.findall(r"^([A-Za-z-]+): ?(.*)$", text, re.M))
        if "install ok installed" in fields.get("Status", ""):
            installed[fields["Package"]] = (fields, text.strip())
    provided = {}
    for name, (fields, _) in installed.items():
        for virtual in fields.get("Provides", "").split(","):
            if virtual.strip():
                provided.setdefault(virtual.split()[0], name)

    def needs(fields):
        for field in ("Pre-Depends", "Depends"):
            for choice in filter(None, (c.strip() for c in fields.get(field, "").split(","))):
                for option in (o.split()[0].split(":")[0] for o in choice.split("|")):
                    if option in installed or option in provided:
                        yield option if option in installed else provided[option]
                        break

    todo = [n for n, (f, _) in installed.items()
            if f.get("Essential") == "yes" or f.get("Priority") == "required"]
    base = set()
    while todo:
        name = todo.pop()
        if name not in base:
            base.add(name)
            todo.extend(needs(installed[name][0]))
    with open(out, "w") as f:
        f.write("\n\n".join(installed[n][1] for n in sorted(base)) + "\n")
    print(f"  minimal system: {len(base)} packages")


COMMANDS = {
    "random-config": random_config,
    "edit-config": edit_config,
    "silent-ports": silent_ports,
    "utf16-holds": utf16_holds,
    "minimal-dpkg-status": minimal_dpkg_status,
}

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in COMMANDS:
        sys.exit(__doc__)
    COMMANDS[sys.argv[1]](*sys.argv[2:])
