#!/usr/bin/python3
"""What `v38ctl --json` prints agrees with docs/v38ctl-output.schema.json.

probe, ports, show, diff and verify run against the simulator on two random images
(every kind of field differs) with Debian's python3-jsonschema as the judge; each
document must match its own definition, and documents broken on purpose must not, so
that the schema is shown to tell them apart.

Usage: OutputSchemaTest.py V38CTL V38_LOCK_SIM SCHEMA
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
from v38check import write_config  # noqa: E402

V38CTL, SIM, SCHEMA = sys.argv[1:4]
schema = json.load(open(SCHEMA, encoding="utf-8"))
jsonschema.Draft202012Validator.check_schema(schema)
folder = tempfile.mkdtemp(prefix="v38-output-")
failures = []


def validator(name=None):
    part = schema if name is None else {"$defs": schema["$defs"], "$ref": "#/$defs/" + name}
    return jsonschema.Draft202012Validator(part)


def configuration(seed, name):
    rng = random.Random(seed)
    image = bytearray(rng.randrange(256) for _ in range(512))
    for i in range(0, 100, 3):  # some erased entries, some plain prefixes
        image[4 + 4 * i:8 + 4 * i] = b"\xFF" * 4 if i % 2 else bytes([0x14, 0x56, 0x7F, 0xFF])
    image[404:415] = bytes([0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0xD2, 0x51, 0x2F])
    path = os.path.join(folder, name)
    write_config(path, image)
    return path


def check(what, condition, detail=""):
    if not condition:
        failures.append(f"{what}: {detail}")


sim = subprocess.Popen([SIM, "--image", os.path.join(folder, "lock.bin"), "--baud", "0"],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
device = sim.stdout.readline().strip()
env = dict(os.environ, V38_PORTS=device, LC_ALL="C")


def run(*args, status=0):
    result = subprocess.run([V38CTL, *args], capture_output=True, env=env)
    check(" ".join(args), result.returncode == status,
          f"exit status {result.returncode}: {result.stderr.decode(errors='replace')}")
    try:
        return json.loads(result.stdout)
    except ValueError as error:
        failures.append(f"{' '.join(args)}: not one JSON document: {error}")
        return {}


def judged(name, document, valid=True):
    errors = [e.message for e in validator(name).iter_errors(document)]
    whole = validator().is_valid(document)
    check(f"{name} {'valid' if valid else 'invalid'}", (not errors) == valid and whole == valid,
          f"{errors[:3]} {json.dumps(document)[:300]}")


try:
    a = configuration(1, "a.bin")
    b = configuration(2, "b.bin")
    subprocess.run([V38CTL, "write", a], env=env, check=True, capture_output=True)

    probe = run("probe", "--json")
    judged("probe", probe)
    check("probe names the simulator", probe.get("device") == device, probe)

    ports = run("ports", "--json")
    judged("ports", ports)
    check("ports: the lock answers on COM1", ports.get("lockAnswersOn") == ["COM1"], ports)
    one = run("ports", "--json", "--port", "COM1")
    judged("ports", one)
    check("ports --port COM1 lists that port only", [p["com"] for p in one.get("ports", [])] ==
          ["COM1"], one)

    masked = run("show", "--json", a)
    judged("show", masked)
    check("show masks the cards", masked.get("cardsMasked") is True and
          masked["serviceCards"]["card1"]["magnetic"].startswith("123456******3456="), masked)
    whole = run("show", "--json", "--show-cards", a)
    judged("show", whole)
    check("--show-cards shows them whole",
          whole["serviceCards"]["card1"]["magnetic"].startswith("1234567890123456="), whole)
    with open(os.path.join(folder, "masked.json"), "w", encoding="utf-8") as out:
        json.dump(masked, out)
    refused = subprocess.run([V38CTL, "import", os.path.join(folder, "masked.json"),
                              os.path.join(folder, "x.bin")], capture_output=True, env=env)
    check("a masked document does not import", refused.returncode == 2, refused.returncode)

    diff = run("diff", "--json", a, b, status=1)
    judged("comparison", diff)
    fields = {d["field"].split("[")[0].split(".")[0] for d in diff.get("differences", [])}
    check("every kind of field differs", fields == {"flags", "times", "prefixes", "serviceCards",
                                                    "reserved"}, fields)
    same = run("diff", "--json", a, a)
    judged("comparison", same)
    check("equal", same.get("equal") is True and same.get("differences") == [], same)

    verify = run("verify", "--json", b, status=1)
    judged("comparison", verify)
    check("verify names the lock", verify.get("to") == "lock" and verify.get("device") == device,
          verify)
    backwards = run("diff", "--json", b, a, status=1)
    check("verify and diff agree", verify.get("differences") == backwards.get("differences"),
          "verify b.bin against a lock holding a.bin")

    # Documents broken on purpose are told apart.
    for name, document, breakage in [
        ("ports", ports, lambda d: d["ports"][0].update(state="asleep")),
        ("ports", ports, lambda d: d["ports"].clear()),
        ("ports", ports, lambda d: d["ports"][0].pop("answer")),
        ("probe", probe, lambda d: d.update(port="3")),
        ("show", masked, lambda d: d.pop("cardsMasked")),
        ("comparison", diff, lambda d: d["differences"][0].update(field="prefix 1")),
        ("comparison", diff, lambda d: d["differences"].append(
            {"field": "times.boltPulseTenthsOfSecond", "caption": "x", "from": "25", "to": 3})),
        ("comparison", verify, lambda d: d.pop("device")),
    ]:
        broken = copy.deepcopy(document)
        breakage(broken)
        judged(name, broken, valid=False)
finally:
    sim.terminate()
    sim.wait()

for failure in failures:
    print("FAIL", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
