#!/usr/bin/env bash
# Checks that two real waveform readers load a VCD written by the history export, and give
# back what it says: sigrok-cli (its channels and sample count) and GTKWave's converters (the
# changes, after a round trip through FST). Both readers exit 0 even on a file they cannot
# read, so what they print is checked, not only their status.
#   tools/check-vcd-readers.sh path/to/history_export_sample
set -euo pipefail
sample=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sample" "$work/history.vcd"
sigrok-cli -I vcd -i "$work/history.vcd" --show >"$work/sigrok.txt" 2>&1
vcd2fst "$work/history.vcd" "$work/history.fst" >"$work/vcd2fst.txt" 2>&1
fst2vcd "$work/history.fst" >"$work/roundtrip.vcd" 2>"$work/fst2vcd.txt"
python3 - "$work" <<'PY'
import re, sys
work = sys.argv[1]

def changes(path):
    """The wires' names and their changes, (time, name, value) where a value differs from the
    wire's last one, as the file says them."""
    names, seen, out, time, body = {}, {}, [], 0, False
    for line in open(path):
        line = line.strip()
        m = re.match(r"\$var\s+wire\s+1\s+(\S+)\s+(\S+)", line)
        if m:
            names[m.group(1)] = m.group(2)
        elif line.startswith("$enddefinitions"):
            body = True
        elif body and line.startswith("#"):
            time = int(line[1:])
        elif body and line and line[0] in "01xXzZ" and line[1:] in names:
            name, value = names[line[1:]], line[0].lower()
            if seen.get(name) != value:
                out.append((time, name, value))
                seen[name] = value
    return [n for n in names.values()], sorted(out)

wires, written = changes(f"{work}/history.vcd")
expected = ["connected"] + [f"dio{n}{s}" for n in range(9) for s in ("", "_output")]
assert wires == expected, f"the export declares {wires}"
assert len(written) > 800, f"only {len(written)} changes were written"
last = max(t for t, _, _ in written)

sigrok = open(f"{work}/sigrok.txt").read()
channels = re.findall(r"^- (\S+): logic$", sigrok, re.M)
assert channels == expected, f"sigrok-cli lists {channels}:\n{sigrok}"
count = re.search(r"Logic sample count: (\d+)", sigrok)
assert count and int(count.group(1)) >= last, f"sigrok-cli read too few samples:\n{sigrok}"

_, back = changes(f"{work}/roundtrip.vcd")
assert back == written, "the changes differ after the FST round trip: " + str(
    sorted(set(back) ^ set(written))[:10])
print(f"sigrok-cli: {len(channels)} channels, {count.group(1)} samples; "
      f"GTKWave round trip: {len(back)} changes as written")
PY
