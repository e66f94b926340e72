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
    v38check.py windows-program EXE VERSION HOLDER
                                                status 0 when the Windows program EXE has
                                                its icon (16 to 256 pixels) and a version
                                                resource of VERSION, product Vestibar and
                                                HOLDER's copyright; else says what is amiss
    v38check.py windows-version EXE             the version EXE's resource gives
    v38check.py uninstall-entries               from `wine reg query KEY /s` of the
                                                installed programs on standard input, those
                                                named Vestibar: name|version|icon a line
"""
import os
import pty
import random
import re
import signal
import struct
import sys

IMAGE_SIZE = 512


def crc16(data, crc=0xFFFF):
    """CRC-16/MODBUS, as the configuration file stores it (low byte first)."""
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def config_bytes(image):
    """The 514-byte configuration file of a 512-byte image."""
    crc = crc16(image)
    return bytes(image) + bytes([crc & 0xFF, crc >> 8])


def write_config(path, image):
    with open(path, "wb") as out:
        out.write(config_bytes(image))


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


def pe_resources(path):
    """The pixel sizes of a Windows program's icon groups, and its version strings."""
    import pefile  # Debian's python3-pefile, needed here only

    pe = pefile.PE(path)
    sizes, strings = [], {}
    kinds = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    for kind in kinds:
        if kind.id != pefile.RESOURCE_TYPE["RT_GROUP_ICON"]:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                group = pe.get_data(entry.OffsetToData, entry.Size)
                # a 6-byte header with the count, then 14 bytes an icon, width first
                # (0 for 256)
                count = struct.unpack_from("<H", group, 4)[0]
                sizes += [group[6 + 14 * i] or 256 for i in range(count)]
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return sorted(sizes), strings


def windows_program(path, version, holder):
    sizes, strings = pe_resources(path)
    amiss = [f"no {size}-pixel icon (icon sizes: {sizes})"
             for size in (16, 32, 48, 256) if size not in sizes]
    for key, value in {"ProductName": "Vestibar", "FileVersion": version,
                       "ProductVersion": version}.items():
        if strings.get(key) != value:
            amiss.append(f"{key} is {strings.get(key)!r}, not {value!r}")
    for key in ("CompanyName", "LegalCopyright"):
        if holder not in strings.get(key, ""):
            amiss.append(f"{key} is {strings.get(key)!r}, without {holder!r}")
    if not strings.get("FileDescription"):
        amiss.append("no FileDescription")
    for what in amiss:
        print(f"       {os.path.basename(path)}: {what}")
    sys.exit(1 if amiss else 0)


def windows_version(path):
    print(pe_resources(path)[1].get("ProductVersion", ""))


def uninstall_entries():
    entries, entry = [], None
    for line in sys.stdin.read().replace("\r", "").splitlines():
        if line.startswith("HKEY_"):
            entry = {}
            entries.append(entry)
        elif entry is not None and "    REG_" in line:
            name, _, rest = line.strip().partition("    ")
            entry[name] = rest.partition("    ")[2]
    for entry in entries:
        if entry.get("DisplayName", "").startswith("Vestibar"):
            print("|".join(entry.get(k, "") for k in ("DisplayName", "DisplayVersion", "DisplayIcon")))


COMMANDS = {
    "random-config": random_config,
    "edit-config": edit_config,
    "silent-ports": silent_ports,
    "utf16-holds": utf16_holds,
    "minimal-dpkg-status": minimal_dpkg_status,
    "windows-program": windows_program,
    "windows-version": windows_version,
    "uninstall-entries": uninstall_entries,
}

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in COMMANDS:
        sys.exit(__doc__)
    COMMANDS[sys.argv[1]](*sys.argv[2:])
