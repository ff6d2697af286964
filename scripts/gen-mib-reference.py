#!/usr/bin/env python3
"""Writes docs/mib-reference.md from the agent's object table and the display MIB.

The request indexes, access and byte counts come from snmp/ObjectTable.cpp (what the agent
serves); OIDs, descriptions and panel commands from mibs/KW-DISPLAY-MIB.txt (what managers
load). The two are checked against each other first: any disagreement stops the script.

usage: scripts/gen-mib-reference.py            rewrite docs/mib-reference.md
       scripts/gen-mib-reference.py --check    fail if docs/mib-reference.md, or a table row
                                               quoted in README.md, is out of date
       scripts/gen-mib-reference.py --stdout   print the page
"""
import argparse
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE_CPP = ROOT / "snmp" / "ObjectTable.cpp"
TABLE_H = ROOT / "snmp" / "ObjectTable.h"
MIB = ROOT / "mibs" / "KW-DISPLAY-MIB.txt"
PAGE = ROOT / "docs" / "mib-reference.md"
README = ROOT / "README.md"

CONTROL_OID = "1.3.6.1.4.1.32473.1.1.1"
ACCESS_NAMES = {"RW": "read-write", "RO": "read-only", "WO": "write-only¹"}
MIB_ACCESS = {"RW": "read-write", "RO": "read-only", "WO": "read-write"}


class Mismatch(Exception):
    pass


def read_table():
    """[(index, name, access, set_counts, get_bytes)] from kObjects, in source order."""
    text = TABLE_CPP.read_text()
    body = text[text.index("kObjects = {"):]
    body = body[: body.index("};")]
    rows = []
    pattern = r'\{(\d+), "(\w+)", (RW|RO|WO), \{(\d+), (\d+)\}, (\d+)\}'
    for m in re.finditer(pattern, body):
        index, name, access, set_a, set_b, get = m.groups()
        sets = [int(n) for n in (set_a, set_b) if int(n) != 0]
        rows.append((int(index), name, access, sets, int(get)))
    if not rows:
        raise Mismatch(f"{TABLE_CPP}: no kObjects rows found")
    return rows


def read_numeric():
    """[(index, name, kind)] from kNumeric, in source order."""
    text = TABLE_CPP.read_text()
    body = text[text.index("kNumeric = {"):]
    body = body[: body.index("};")]
    return [(int(i), n, k) for i, n, k in
            re.findall(r'\{(\d+), "(\w+)", (Level|Code|OnOff)\}', body)]


def check_numeric(numeric, rows, mib):
    problems = []
    names = {index: name for index, name, *_ in rows}
    for index, name, _ in numeric:
        obj = mib.get(name)
        if obj is None:
            problems.append(f"{name} (index {index}) is not in the MIB")
        elif (obj["parent"], obj["arc"]) != ("kwdNumeric", index + 1):
            problems.append(f"{name}: MIB places it at {obj['parent']}.{obj['arc']}, "
                            f"the agent at kwdNumeric.{index + 1}")
        elif names.get(index, "") + "Value" != name:
            problems.append(f"{name}: not the twin of request index {index}")
    served = {name for _, name, _ in numeric}
    for name, obj in mib.items():
        if obj["parent"] == "kwdNumeric" and name not in served:
            problems.append(f"{name} is in the MIB but the agent does not serve it")
    if problems:
        raise Mismatch("\n".join(problems))


def monitoring_section(numeric, mib):
    root = CONTROL_OID[: -len(".1")]
    lines = [MONITORING.format(health=root + ".2", numeric=root + ".3")]
    health = sorted((o["arc"], n, o) for n, o in mib.items() if o["parent"] == "kwdHealth")
    for arc, name, obj in health:
        syntax = obj["syntax"].split(" UNITS")[0]
        lines.append(f"| `{name}` | `{root}.2.{arc}.0` | {syntax} | {obj['description']} |")
    lines.append(NUMERIC_HEADER)
    for index, name, _ in numeric:
        obj = mib[name]
        lines.append(f"| {index} | `{name}` | `{root}.3.{index + 1}.0` | {obj['syntax']} | "
                     f"{panel_command(obj['description'])} |")
    return "\n".join(lines) + "\n"


def read_header_constant(name):
    m = re.search(rf"constexpr \w+ {name} = (\d+);", TABLE_H.read_text())
    if not m:
        raise Mismatch(f"{TABLE_H}: {name} not found")
    return int(m.group(1))


def read_mib():
    """{descriptor: {parent, arc, access, syntax, description}} for every OBJECT-TYPE."""
    text = MIB.read_text()
    objects = {}
    pattern = (
        r"^(\w+) OBJECT-TYPE\s+SYNTAX\s+(.*?)\s+MAX-ACCESS\s+([\w-]+).*?"
        r'DESCRIPTION\s+"(.*?)".*?::= \{ (\w+) (\d+) \}'
    )
    for m in re.finditer(pattern, text, re.S | re.M):
        name, syntax, access, description, parent, arc = m.groups()
        objects[name] = {
            "parent": parent,
            "arc": int(arc),
            "access": access,
            "syntax": " ".join(syntax.split()),
            "description": " ".join(description.split()),
        }
    return objects


def text_sizes(counts):
    """Lengths of the hex text for these byte counts: with and without blanks."""
    sizes = set()
    for n in counts:
        sizes.update({2 * n, 3 * n - 1})
    return sizes


def mib_sizes(syntax):
    m = re.search(r"SIZE \(([\d |]+)\)", syntax)
    return {int(s) for s in m.group(1).split("|")} if m else None


def panel_command(description):
    m = re.search(r"panel command (0x[0-9A-F]{2})", description)
    return m.group(1) if m else ""


def meaning(description):
    """The description's first sentence."""
    return description.split(". Request index")[0].rstrip(".")


def check(rows, mib, holiday_arc):
    problems = []
    served = set()
    for index, name, access, sets, get in rows:
        arc = index + 1
        served.add(name)
        obj = mib.get(name)
        if obj is None:
            problems.append(f"{name} (index {index}) is not in the MIB")
            continue
        if (obj["parent"], obj["arc"]) != ("kwdControl", arc):
            problems.append(f"{name}: MIB places it at {obj['parent']}.{obj['arc']}, "
                            f"the agent at kwdControl.{arc}")
        if obj["access"] != MIB_ACCESS[access]:
            problems.append(f"{name}: MIB access {obj['access']}, agent {access}")
        if f"Request index {index}," not in obj["description"]:
            problems.append(f"{name}: the MIB description does not say request index {index}")
        if not panel_command(obj["description"]):
            problems.append(f"{name}: the MIB description names no panel command")
        # Text rows have no size; hex rows take exactly the lengths of their byte counts.
        expected = text_sizes(sets) | ({3 * get - 1} if get else set())
        sizes = mib_sizes(obj["syntax"])
        if get == 0 and access != "WO":
            if sizes is not None:
                problems.append(f"{name}: a text row, but the MIB gives SIZE {sorted(sizes)}")
        elif sizes != expected:
            problems.append(f"{name}: MIB SIZE {sorted(sizes or [])}, agent expects "
                            f"{sorted(expected)}")
    for name, obj in mib.items():
        if obj["parent"] == "kwdControl" and obj["arc"] != holiday_arc and name not in served:
            problems.append(f"{name} is in the MIB but the agent does not serve it")
    table = mib.get("kwdHolidayTable")
    if table is None or (table["parent"], table["arc"]) != ("kwdControl", holiday_arc):
        problems.append(f"kwdHolidayTable is not at kwdControl.{holiday_arc}")
    if problems:
        raise Mismatch("\n".join(problems))


def bytes_cell(access, sets, get):
    set_text = " or ".join(str(n) for n in sets) if access != "RO" else "—"
    if access == "WO":
        get_text = "—"
    else:
        get_text = str(get) if get else "text"
    return f"{set_text} / {get_text}"


def build_rows(rows, mib, holiday_arc):
    entry_arc = read_header_constant("kHolidayEntryArc")
    value_column = read_header_constant("kHolidayValueColumn")
    entry_index = read_header_constant("kHolidayEntryIndex")
    value = mib["kwdHolidayValue"]
    table = mib["kwdHolidayTable"]
    value_bytes = (max(mib_sizes(value["syntax"])) + 1) // 3  # "01 02 03 04 05": 14 characters
    out = []
    for index, name, access, sets, get in rows:
        if entry_index < index and all(r[0] != entry_index for r in out):
            out.append((
                entry_index,
                "kwdHolidayValue.*n*",
                f"{CONTROL_OID}.{holiday_arc}.{entry_arc}.{value_column}.*n*",
                "read-only",
                f"— / {value_bytes}",
                panel_command(table["description"]) + " *n*",
                "Holiday entry *n*, 1 to kwdHolidayCount: n, start month, start day, "
                "end month, end day",
            ))
        obj = mib[name]
        out.append((
            index,
            name,
            f"{CONTROL_OID}.{index + 1}.0",
            ACCESS_NAMES[access],
            bytes_cell(access, sets, get),
            panel_command(obj["description"]),
            meaning(obj["description"]),
        ))
    return out


def format_row(row):
    index, name, oid, access, size, cmd, text = row
    return f"| {index} | `{name}` | `{oid}` | {access} | {size} | {cmd} | {text} |"


HEADER = """\
# KW-DISPLAY-MIB reference

<!-- Generated by scripts/gen-mib-reference.py from snmp/ObjectTable.cpp and
     mibs/KW-DISPLAY-MIB.txt. Edit those, then run the script. -->

`KW-DISPLAY-MIB` (`mibs/KW-DISPLAY-MIB.txt`) lives under `1.3.6.1.4.1.32473.1` (`kwDisplay`),
the enterprise number RFC 5612 reserves for documentation; the agent's `sysObjectID` is that
root. The module's request index *i* is the scalar `kwdControl.(i+1).0`, that is
`{control}.(i+1).0`. Request indexes 1 and 2 have no object. Index 60 is the holiday table.

Every value is an OCTET STRING (`DisplayString`) of hex text: two upper-case digits per byte,
single blanks between bytes (`"01 0A FF"`). A set takes the same text or the digits without
blanks (`010AFF`), in either case. The model name, software version and serial number are read
as plain characters.

Columns: **Bytes** is *set / get*: how many bytes a set takes, and how many a get returns
("text": characters; "—": not in that direction). **Cmd** is the panel command a request
sends. The meaning of each byte is the panel's; the MIB's DESCRIPTION clauses give the order.

| Index | Object | OID | Access | Bytes | Cmd | Meaning |
|---|---|---|---|---|---|---|
"""

FOOTER = """
¹ Set-only objects are `read-write` in the MIB (SMIv2 has no write-only access). A get of one
answers `noSuchInstance` (SNMPv1: `noSuchName`) and a walk passes over it.

## Errors

| Situation | Error (SNMPv2c) |
|---|---|
| an OID under `kwdControl` that names no object | `noSuchObject` |
| an object's OID other than its `.0` instance; a get of a set-only object | `noSuchInstance` |
| a set of a read-only object | `notWritable` |
| a set with a value that is not an OCTET STRING | `wrongType` |
| a set with text that is not hex pairs | `wrongValue` |
| a set with a byte count the object does not take | `wrongLength` |
| a set with the read community (`public`) | `noAccess` |
| a get the panel refuses ('N'), does not answer within 10 s, or cannot be reached for; a holiday entry the panel does not hold | `genErr` |
| a set the panel refuses, does not answer, or cannot be reached for | `commitFailed` |
| more than 8 display requests already waiting: get / set | `genErr` / `resourceUnavailable` |

The type, value and length checks are made before the panel is touched. A client that has
loaded the MIB already refuses a text of the wrong length itself ("Value does not match
DISPLAY-HINT").

## Walk

A walk of `kwDisplay` (or `kwdControl`) returns the readable scalars in OID order with the
holiday entries `kwdHolidayValue.1` … `kwdHolidayValue.`*count* between `kwdHolidayCount` and
`kwdEnergySaving`. Each object costs one panel command, so a full walk takes about 8 s with
the simulated panel.
"""


MONITORING = """
## Health

`kwdHealth` (`{health}`) is answered at once, without a panel command, also while the panel
is busy or gone. Counters never go back while the process lives. The agent sends
`kwdPanelLinkDown` (`kwDisplay.0.1`) when the panel line is lost, `kwdPanelLinkUp`
(`kwDisplay.0.2`) when it is back, and `kwdPanelCommandsFailing` (`kwDisplay.0.3`, at most once
a minute) when three or more panel commands in a row fail; each carries `kwdPanelLinkState`
and `kwdPanelLastReplyAge`.

| Object | OID | Syntax | Meaning |
|---|---|---|---|"""

NUMERIC_HEADER = """
## Numeric twins

`kwdNumeric` (`{numeric}`) repeats every one-byte reading as a number: `kwdNumeric.`*n* is the
twin of `kwdControl.`*n*, read with the same panel command and pause. A request that names an
object and its twin costs the panel one command. `KwdOnOff` is `off(0)`, `on(1)`.

| Index | Object | OID | Syntax | Cmd |
|---|---|---|---|---|"""


def render(rows, mib, holiday_arc, numeric):
    lines = [format_row(r) for r in build_rows(rows, mib, holiday_arc)]
    return (HEADER.format(control=CONTROL_OID) + "\n".join(lines) + "\n" + FOOTER +
            monitoring_section(numeric, mib).replace("{numeric}", CONTROL_OID[:-2] + ".3"))


def readme_rows():
    """Table rows quoted in README.md between the mib-excerpt markers."""
    text = README.read_text() if README.exists() else ""
    m = re.search(r"<!-- mib-excerpt -->(.*?)<!-- /mib-excerpt -->", text, re.S)
    if not m:
        return []
    return [line for line in m.group(1).splitlines() if re.match(r"\| \d+ \|", line)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--stdout", action="store_true")
    args = parser.parse_args()
    try:
        rows = read_table()
        mib = read_mib()
        holiday_arc = read_header_constant("kHolidayTableArc")
        check(rows, mib, holiday_arc)
        numeric = read_numeric()
        check_numeric(numeric, rows, mib)
    except Mismatch as problem:
        print(f"gen-mib-reference: the agent and the MIB disagree:\n{problem}", file=sys.stderr)
        return 1
    page = render(rows, mib, holiday_arc, numeric)
    if args.stdout:
        sys.stdout.write(page)
        return 0
    if args.check:
        status = 0
        if not PAGE.exists() or PAGE.read_text() != page:
            print(f"gen-mib-reference: {PAGE.relative_to(ROOT)} is out of date; run "
                  "scripts/gen-mib-reference.py", file=sys.stderr)
            status = 1
        stale = [row for row in readme_rows() if row not in page.splitlines()]
        for row in stale:
            print(f"gen-mib-reference: README.md row not in the reference: {row}", file=sys.stderr)
            status = 1
        return status
    PAGE.parent.mkdir(exist_ok=True)
    PAGE.write_text(page)
    print(f"gen-mib-reference: wrote {PAGE.relative_to(ROOT)} ({len(rows) + 1} rows)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
