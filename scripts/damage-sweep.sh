#!/usr/bin/env bash
# Damage sweep: every cut inside the archive of a setup executable and every
# single-byte change in it (XOR 0x01 and XOR 0xFF), each tested with
# `vxpack test`; prints how many variants pass (exit code 0), how many fail,
# and how many did not end within 10 seconds. A variant that passes is then
# extracted and compared with the original's files: a change to bits that a
# compressed stream does not use (padding, code lengths of absent symbols)
# gives the very same files, and is counted apart from a real pass.
#   scripts/damage-sweep.sh [SETUP_EXE [VXPACK]]
# Defaults: build/win64/examples/Setup.exe and build/linux/tools/vxpack/vxpack.
# SWEEP_JOBS (default 2) variants run at once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
setup=${1:-$root/build/win64/examples/Setup.exe}
vxpack=${2:-$root/build/linux/tools/vxpack/vxpack}
[[ -f $setup ]] || { echo "no such file: $setup" >&2; exit 2; }
[[ -x $vxpack ]] || { echo "no vxpack at $vxpack" >&2; exit 2; }
exec python3 - "$setup" "$vxpack" "${SWEEP_JOBS:-2}" <<'PY'
import concurrent.futures, filecmp, os, shutil, subprocess, sys, tempfile

setup, vxpack, jobs = sys.argv[1], os.path.abspath(sys.argv[2]), int(sys.argv[3])
data = open(setup, "rb").read()
# The archive starts at the first marker whose main header type byte follows.
marker = b"Rar!\x1a\x07\x00"
start = data.find(marker)
while start >= 0 and (start + 9 >= len(data) or data[start + 9] != 0x73):
    start = data.find(marker, start + 1)
if start < 0:
    sys.exit("no archive found in " + setup)
folder = tempfile.mkdtemp(prefix="vx-sweep-")

def extract(path, into):
    subprocess.run([vxpack, "extract", path, into], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

def same_tree(a, b):
    c = filecmp.dircmp(a, b)
    if c.left_only or c.right_only or filecmp.cmpfiles(a, b, c.common_files, shallow=False)[1:] != ([], []):
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in c.common_dirs)

original = os.path.join(folder, "original")
extract(setup, original)

def run(job):
    kind, at, xor = job
    if kind == "cut":
        variant = data[:at]
    else:
        variant = bytearray(data)
        variant[at] ^= xor
    path = os.path.join(folder, "%s-%d-%d.exe" % (kind, at, xor))
    with open(path, "wb") as f:
        f.write(variant)
    try:
        code = subprocess.run([vxpack, "test", path], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=10).returncode
        outcome = "pass" if code == 0 else "fail"
    except subprocess.TimeoutExpired:
        outcome = "hang"
    if outcome == "pass":
        into = path + ".out"
        extract(path, into)
        if same_tree(original, into):
            outcome = "same"
        shutil.rmtree(into)
    os.remove(path)
    return kind, at, xor, outcome

jobs_list = [("cut", at, 0) for at in range(start, len(data))]
jobs_list += [("xor", at, x) for at in range(start, len(data)) for x in (0x01, 0xFF)]
counts = {}
passed = []
with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
    for kind, at, xor, outcome in pool.map(run, jobs_list, chunksize=16):
        counts[(kind, outcome)] = counts.get((kind, outcome), 0) + 1
        if outcome not in ("fail", "same") and len(passed) < 10:
            passed.append("%s at %d%s: %s" % (kind, at, " xor 0x%02X" % xor if xor else "", outcome))
shutil.rmtree(folder)
print("%s: archive at offset %d, %d bytes" % (setup, start, len(data) - start))
for kind, label in (("cut", "cuts"), ("xor", "single-byte changes")):
    total = sum(v for (k, _), v in counts.items() if k == kind)
    print("%-20s %6d tried, %6d pass, %6d fail, %d hang, %d pass with the original's very files" % (
          label, total, counts.get((kind, "pass"), 0), counts.get((kind, "fail"), 0),
          counts.get((kind, "hang"), 0), counts.get((kind, "same"), 0)))
for line in passed:
    print("  e.g. " + line)
PY
