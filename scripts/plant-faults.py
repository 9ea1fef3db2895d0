#!/usr/bin/env python3
"""Plants deliberate faults in the program, one at a time, and runs the test
suite against each: a fault that no test catches shows where the suite is blind.

    scripts/plant-faults.py [--build DIR] [--labels REGEX] [--only ID ...] [--list]

Each fault (scripts/faults.json) replaces one exact piece of a source file.
For each: the piece is replaced, the build dir is built, CTest runs the
labels given, the failing tests are recorded, and the file is put back. The
working tree is left as it was, also when the run is interrupted. Prints a
Markdown table: fault, what it breaks, the tests that caught it.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, **kw)


def failed_tests(build, labels, timeout):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    r = run(["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2), "-L", labels,
             "--timeout", str(timeout)], env=env)
    return sorted(set(re.findall(r"^\s*\d+ - (\S+) \(", r.stdout, re.M)))


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", default="build")
    p.add_argument("--labels", default="unit|qt|e2e|fuzz-replay")
    p.add_argument("--faults", default=os.path.join(ROOT, "scripts", "faults.json"))
    p.add_argument("--only", nargs="*")
    p.add_argument("--list", action="store_true")
    p.add_argument("--timeout", type=int, default=120)
    a = p.parse_args()
    faults = json.load(open(a.faults))
    if a.only:
        faults = [f for f in faults if f["id"] in a.only]
    if a.list:
        for f in faults:
            print(f"{f['id']}: {f['breaks']} ({f['file']})")
        return 0

    base = run(["cmake", "--build", a.build, "-j", str(os.cpu_count() or 2)])
    if base.returncode:
        sys.exit("the unchanged tree does not build:\n" + base.stdout[-2000:])
    clean = failed_tests(a.build, a.labels, a.timeout)
    if clean:
        sys.exit("tests fail without any fault: " + ", ".join(clean))

    rows, missed = [], 0
    for f in faults:
        path = os.path.join(ROOT, f["file"])
        original = open(path, encoding="utf-8").read()
        if original.count(f["old"]) != 1:
            sys.exit(f"{f['id']}: the piece to replace occurs {original.count(f['old'])} times in {f['file']}")
        start = time.time()
        try:
            open(path, "w", encoding="utf-8").write(original.replace(f["old"], f["new"]))
            b = run(["cmake", "--build", a.build, "-j", str(os.cpu_count() or 2)])
            caught = ["(does not build)"] if b.returncode else failed_tests(a.build, a.labels, a.timeout)
        finally:
            open(path, "w", encoding="utf-8").write(original)
        missed += not caught
        rows.append((f["id"], f["area"], f["breaks"], ", ".join(caught) or "**NOT CAUGHT**"))
        print(f"{f['id']}: {len(caught)} failing ({time.time() - start:.0f} s)", file=sys.stderr)
    run(["cmake", "--build", a.build, "-j", str(os.cpu_count() or 2)])

    print("| Fault | Area | What it breaks | Caught by |")
    print("|---|---|---|---|")
    for r in rows:
        print(f"| {r[0]} | {r[1]} | {r[2]} | {r[3]} |")
    print(f"\n{len(rows) - missed} of {len(rows)} caught.")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
