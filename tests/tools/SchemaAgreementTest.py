#!/usr/bin/python3
"""The JSON Schema of configuration documents and `v38ctl import` agree.

Every document that `v38ctl export` writes passes a real validator (Debian's
python3-jsonschema, Draft 2020-12) and imports back to the same bytes; on a set of
documents mutated field by field, the validator and import accept and refuse the same
ones. What the schema cannot say and its description lists (a field or a prefix
number given twice, readings that do not match their hex, nesting, size) is left out.

Usage: SchemaAgreementTest.py V38CTL SCHEMA
"""
import copy
import json
import os
import random
import subprocess
import sys
import tempfile

import jsonschema

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
from v38check import config_bytes  # noqa: E402

V38CTL, SCHEMA = sys.argv[1], sys.argv[2]
validator = jsonschema.Draft202012Validator(json.load(open(SCHEMA, encoding="utf-8")))
folder = tempfile.mkdtemp(prefix="v38-schema-")
failures = []


def odd_image(rng):
    """An image whose entries are erased, plain prefixes or any bytes, whose flags,
    cards and reserved tail are anything."""
    image = bytearray(rng.randrange(256) for _ in range(512))
    for i in range(100):
        kind = rng.randrange(3)
        if kind == 0:
            image[4 + 4 * i:8 + 4 * i] = b"\xFF" * 4
        elif kind == 1:
            nibbles = [rng.randrange(15)] + [rng.randrange(15) for _ in range(rng.randrange(1, 8))]
            nibbles += [15] * (8 - len(nibbles))
            image[4 + 4 * i:8 + 4 * i] = bytes(n << 4 | m for n, m in zip(nibbles[::2], nibbles[1::2]))
    return bytes(image)


def run(*args, stdin=None):
    return subprocess.run([V38CTL, *args], input=stdin, capture_output=True)


def import_verdict(text, named=True):
    """True when import accepts the document; a refusal must name a JSON path (a text
    that does not begin as a document is refused for what it looks like instead)."""
    path = os.path.join(folder, "doc.json")
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)
    result = run("import", path, os.path.join(folder, "out.bin"))
    # A refused document is a file error: exit status 2.
    if result.returncode not in (0, 2):
        failures.append(f"import ended with {result.returncode}: {result.stderr!r}")
    if named and result.returncode == 2 and not result.stderr.decode().startswith(path + ": /"):
        failures.append(f"a refusal without a JSON path: {result.stderr!r}")
    return result.returncode == 0


rng = random.Random(38)
documents = []
for n in range(40):
    image = odd_image(rng)
    exported = run("export", "-", stdin=config_bytes(image))
    text = exported.stdout.decode("utf-8")
    errors = [e.message for e in validator.iter_errors(json.loads(text))]
    if exported.returncode != 0 or errors:
        failures.append(f"exported document {n} does not validate: {errors[:3]}")
    back = run("import", "-", "-", stdin=exported.stdout)
    if back.stdout[:512] != image:
        failures.append(f"exported document {n} does not import back to its bytes")
    documents.append(json.loads(text))

base = next(d for d in documents
            if any("prefix" in e for e in d["prefixes"]) and any("hex" in e for e in d["prefixes"]))
plain = next(i for i, e in enumerate(base["prefixes"]) if "prefix" in e)
odd = next(i for i, e in enumerate(base["prefixes"]) if "hex" in e)


def at(document, path):
    *steps, last = path
    for step in steps:
        document = document[step]
    return document, last


def setting(path, value):
    def mutate(document):
        parent, last = at(document, path)
        parent[last] = value
    return mutate


def removing(path):
    def mutate(document):
        parent, last = at(document, path)
        del parent[last]
    return mutate


times = ("times", "boltPulseTenthsOfSecond")
prefix = ("prefixes", plain, "prefix")
position = ("prefixes", plain, "position")
number = ("prefixes", plain, "number")
entry_hex = ("prefixes", odd, "hex")
card = ("serviceCards", "card1", "hex")
card_hex = base["serviceCards"]["card1"]["hex"]
mutations = {
    "nothing": lambda d: None,
    "$schema": setting(("$schema",), "https://example.invalid/v38-config.schema.json"),
    "$schema not a string": setting(("$schema",), 1),
    "unknown field": setting(("comment",), "x"),
    "root missing a field": removing(("reserved",)),
    "format with a line break": setting(("format",), "v38-config\n"),
    "version 1.0": setting(("version",), 1.0),
    "version 2": setting(("version",), 2),
    "version as text": setting(("version",), "1"),
    "version true": setting(("version",), True),
    "flag as a number": setting(("flags", "doorSensor"), 0),
    "flag missing": removing(("flags", "halfStripe")),
    "otherBits 40": setting(("flags", "otherBits"), "40"),
    "otherBits c0": setting(("flags", "otherBits"), "c0"),
    "otherBits 00": setting(("flags", "otherBits"), "00"),
    "otherBits C1": setting(("flags", "otherBits"), "C1"),
    "otherBits with a line break": setting(("flags", "otherBits"), "40\n"),
    "time 10.0": setting(times, 10.0),
    "time 1e1": setting(times, 1e1),
    "time 10.5": setting(times, 10.5),
    "time -1": setting(times, -1),
    "time 255": setting(times, 255),
    "time 256": setting(times, 256),
    "time 255.0": setting(times, 255.0),
    "time 2^64": setting(times, 2**64),
    "time as text": setting(times, "10"),
    "time null": setting(times, None),
    "times missing one": removing(times),
    "prefixes not a list": setting(("prefixes",), {}),
    "no prefixes": setting(("prefixes",), []),
    "prefix with a line break": setting(prefix, "4567\n"),
    "prefix of 7": setting(prefix, "1234567"),
    "prefix of 8": setting(prefix, "12345678"),
    "empty prefix": setting(prefix, ""),
    "prefix :;<=>": setting(prefix, ":;<=>"),
    "prefix with a letter": setting(prefix, "45a7"),
    "prefix non-ASCII": setting(prefix, "45\u00e97"),
    "prefix as a number": setting(prefix, 4567),
    "position 0": setting(position, 0),
    "position 15": setting(position, 15),
    "position 16": setting(position, 16),
    "position 3.0": setting(position, 3.0),
    "position 3.5": setting(position, 3.5),
    "number 0": setting(number, 0),
    "number 101": setting(number, 101),
    "number as a fraction": setting(number, base["prefixes"][plain]["number"] + 0.5),
    "number written .0": setting(number, float(base["prefixes"][plain]["number"])),
    "entry without position": removing(position),
    "entry with hex too": setting(("prefixes", plain, "hex"), "FFFFFFFF"),
    "entry unknown field": setting(("prefixes", plain, "note"), 1),
    "entry hex lower case": setting(entry_hex, base["prefixes"][odd]["hex"].lower()),
    "entry hex 7 and a line break": setting(entry_hex, base["prefixes"][odd]["hex"][:7] + "\n"),
    "entry hex 8 and a line break": setting(entry_hex, base["prefixes"][odd]["hex"] + "\n"),
    "entry hex of 9": setting(entry_hex, base["prefixes"][odd]["hex"] + "F"),
    "entry hex not hex": setting(entry_hex, "F01234G6"),
    "card hex lower case": setting(card, card_hex.lower()),
    "card hex with a line break": setting(card, card_hex[:39] + "\n"),
    "card hex of 39": setting(card, card_hex[:39]),
    "card hex of 41": setting(card, card_hex + "F"),
    "card readings left out": lambda d: [d["serviceCards"]["card1"].pop(k) for k in
                                         ("magnetic", "proximity")],
    "card missing": removing(("serviceCards", "card2")),
    "card unknown field": setting(("serviceCards", "card1", "pin"), "1234"),
    "reserved lower case": setting(("reserved",), base["reserved"].lower()),
    "reserved with a line break": setting(("reserved",), base["reserved"][:135] + "\n"),
    "reserved of 138": setting(("reserved",), base["reserved"] + "FF"),
}
for name, mutate in mutations.items():
    document = copy.deepcopy(base)
    mutate(document)
    valid = validator.is_valid(document)
    imported = import_verdict(json.dumps(document, ensure_ascii=False))
    if valid != imported:
        failures.append(f"{name}: the schema {'accepts' if valid else 'refuses'} it, "
                        f"import {'accepts' if imported else 'refuses'} it")
for root in ([], "v38-config", 1):
    if validator.is_valid(root) or import_verdict(json.dumps(root), named=root == []):
        failures.append(f"a root of {root!r} is accepted")

for failure in failures:
    print(failure)
print(f"{len(documents)} exported documents, {len(mutations) + 3} mutated documents: "
      f"{len(failures)} disagreements")
sys.exit(1 if failures else 0)
