#!/usr/bin/env python3
"""The editors' descriptors against what MLT sees of the plug-ins.

descriptors_test.py EDITORS_DIR PLUGIN_DIR

Every Kdenlive descriptor must be well-formed XML whose parameters are the
plug-in's, by name, in order, all of them, with the plug-in's defaults, and
whose scales map exactly onto the plug-in's 0..1 values as Kdenlive 22.12
maps them (shown = value x factor; it has no offset), and whose list items
are six-digit text (Kdenlive saves values so and finds items by text).
Every Shotcut
folder must hold a meta.qml for the plug-in's MLT service and a ui.qml that
parse as far as brackets and strings go, set every parameter by index, and
give a new filter the plug-in's defaults. What the plug-in is comes from
`melt -query filter=frei0r.NAME`, as the editors get it from MLT.

Presets: Kdenlive's presets file (kdenlive/presets/frei0r.NAME.json) must be
the JSON that Kdenlive's "Save preset" writes, and the Shotcut ui.qml must
save the same presets, in the same order; each preset must set every
parameter of the plug-in, once, to a value in 0..1 (a list's item, 0 or 1
for a checkbox). A Shotcut folder's icon must be a PNG picture.
"""
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

failures = []


def fail(where, text):
    failures.append(f"{where}: {text}")


def parse_melt_query(text):
    """[(title, default)] in index order from `melt -query` output: MLT 7.12
    and 7.30 write `identifier: 0`, 7.42 quotes it and any text with a colon
    (`identifier: "0"`, `title: "Center X"`)."""
    params = []
    for line in text.splitlines():
        m = re.match(r'  - identifier: ("?)(\d+)\1$', line)
        if m:
            assert int(m.group(2)) == len(params), line
            params.append({})
            continue
        m = re.match(r"    (title|default): (.*)$", line)
        if m and params:
            params[-1][m.group(1)] = m.group(2).strip().strip('"')
    return [(p["title"], float(p["default"])) for p in params]


# Both quotings, as the two MLT versions print one parameter.
for sample in ("  - identifier: 0\n    title: Delay\n    default: 0.25\n",
               '  - identifier: "0"\n    title: "Delay"\n    default: "0.25"\n'):
    assert parse_melt_query(sample) == [("Delay", 0.25)], sample


def melt_parameters(plugin_dir, name):
    """[(title, default)] in index order, from MLT's own metadata."""
    env = dict(os.environ, FREI0R_PATH=plugin_dir)
    out = subprocess.run(["melt", "-query", f"filter=frei0r.{name}"], env=env,
                         stdin=subprocess.DEVNULL, capture_output=True,
                         text=True, timeout=120).stdout
    return parse_melt_query(out)


def check_kdenlive(path, name, params):
    where = os.path.basename(path)
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as e:
        fail(where, f"not well-formed: {e}")
        return
    if root.tag != "effect" or root.get("id") != f"frei0r.{name}" \
            or root.get("tag") != f"frei0r.{name}":
        fail(where, "id and tag must be frei0r." + name)
    if root.get("LC_NUMERIC") != "C":
        fail(where, "numbers must be declared in the C locale")
    if not (root.findtext("name") or "").strip():
        fail(where, "no name")
    got = root.findall("parameter")
    names = [p.get("name") for p in got]
    if names != [t for t, _ in params]:
        fail(where, f"parameters {names} are not the plug-in's "
                    f"{[t for t, _ in params]}")
    for p, (title, default) in zip(got, params):
        w = f"{where} {title}"
        kind = p.get("type")
        if not (p.findtext("name") or "").strip():
            fail(w, "no label")
        if float(p.get("default")) != default:
            fail(w, f"default {p.get('default')} is not the plug-in's {default}")
        if p.get("offset") is not None:
            fail(w, "Kdenlive 22.12 ignores an offset")
        if kind in ("animated", "constant"):
            lo, hi = float(p.get("min")), float(p.get("max"))
            factor = float(p.get("factor", "1"))
            if lo / factor != 0.0 or hi / factor != 1.0:
                fail(w, "min and max do not map onto 0 and 1")
            if not lo <= default * factor <= hi:
                fail(w, "default off the scale")
        elif kind == "list":
            texts = p.get("paramlist").split(";")
            values = [float(v) for v in texts]
            labels = p.findtext("paramlistdisplay").split(",")
            if len(values) != len(labels):
                fail(w, "as many labels as values needed")
            if default not in values or p.get("default") not in texts:
                fail(w, "default is no item")
            if any(not 0 <= v <= 1 for v in values):
                fail(w, "item outside 0..1")
            for t in texts:
                if "%g" % float(t) != t:
                    fail(w, f"item {t} is not what Kdenlive saves ({float(t):g})")
        elif kind == "bool":
            if p.get("default") not in ("0", "1"):
                fail(w, "a checkbox's default is 0 or 1")
        else:
            fail(w, f"unexpected type {kind}")


def strip_qml(text):
    """The code without comments and string contents, for bracket counting."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = len(text) if i < 0 else i
        elif c in "'\"":
            end = i + 1
            while end < len(text) and text[end] != c:
                if text[end] == "\n":
                    return None
                end += 2 if text[end] == "\\" else 1
            if end >= len(text):
                return None
            out.append(c + c)
            i = end + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def balanced(text):
    stripped = strip_qml(text)
    if stripped is None:
        return False
    stack, pairs = [], {")": "(", "]": "[", "}": "{"}
    for c in stripped:
        if c in "([{":
            stack.append(c)
        elif c in pairs:
            if not stack or stack.pop() != pairs[c]:
                return False
    return not stack


def check_shotcut(folder, name, params):
    where = f"shotcut/{os.path.basename(folder)}"
    try:
        meta = open(os.path.join(folder, "meta.qml")).read()
        ui = open(os.path.join(folder, "ui.qml")).read()
    except OSError as e:
        fail(where, str(e))
        return
    indices = [f"'{i}'" for i in range(len(params))]
    for file, text in (("meta.qml", meta), ("ui.qml", ui)):
        if not balanced(text):
            fail(f"{where}/{file}", "unbalanced brackets or an open string")
    if not re.search(r"^import org\.shotcut\.qml 1\.0$", meta, re.M) or \
            not re.search(r"^Metadata \{", meta, re.M):
        fail(f"{where}/meta.qml", "not a Shotcut 22.12 Metadata item")
    if f'mlt_service: "frei0r.{name}"' not in meta:
        fail(f"{where}/meta.qml", "wrong mlt_service")
    if 'qml: "ui.qml"' not in meta:
        fail(f"{where}/meta.qml", "does not name ui.qml")
    simple = re.search(r"simpleProperties: \[(.*)\]", meta)
    for prop in re.findall(r"'[^']*'", simple.group(1)) if simple else []:
        if prop not in indices:
            fail(f"{where}/meta.qml", f"keyframes for unknown property {prop}")
    for prop in re.findall(r"property: ('[^']*')", meta):
        if prop not in indices:
            fail(f"{where}/meta.qml", f"unknown property {prop}")
    if not re.search(r"^import Shotcut\.Controls 1\.0 as Shotcut$", ui, re.M):
        fail(f"{where}/ui.qml", "not the Qt 5 controls of Shotcut 22.12")
    preset = re.search(r"parameters: \[(.*)\]", ui)
    if not preset or re.findall(r"'[^']*'", preset.group(1)) != indices:
        fail(f"{where}/ui.qml", "the preset must hold every parameter")
    for i, (title, default) in enumerate(params):
        sets = re.findall(rf"filter\.get\('{i}'\) === ''\)\n\s*"
                          rf"filter\.set\('{i}', \"?([^\")]*)\"?\);", ui)
        if not sets:
            fail(f"{where}/ui.qml", f"{title} is never given its default")
        elif float(sets[0]) != default:
            fail(f"{where}/ui.qml", f"{title} default {sets[0]} is not {default}")
        if not re.search(rf"filter\.(set|getDouble)\('{i}'", ui):
            fail(f"{where}/ui.qml", f"{title} has no control")
    for prop in re.findall(r"filter\.(?:set|get|getDouble)\(('[^']*')", ui):
        if prop not in indices + ["'threads'"]:
            fail(f"{where}/ui.qml", f"unknown property {prop}")


def shotcut_presets(ui):
    """[(name, [(index, value)])] that ui.qml saves when a filter is new."""
    presets, values = [], []
    for line in ui.splitlines():
        m = re.match(r"\s*filter\.set\('(\d+)', \"?([^\")]*)\"?\);$", line)
        if m:
            values.append((int(m.group(1)), float(m.group(2))))
            continue
        m = re.match(r'\s*filter\.savePreset\(preset\.parameters, qsTr\("(.*)"\)\);$', line)
        if m:
            presets.append((m.group(1), values))
            values = []
        elif "savePreset" in line:
            break  # the defaults, saved last without a name
    return presets


def check_presets(editors, name, params):
    """Both editors' presets of one plug-in, against each other and MLT."""
    where = f"kdenlive/presets/frei0r.{name}.json"
    descriptor = ET.parse(os.path.join(editors, "kdenlive", f"frei0r_{name}.xml")).getroot()
    kinds = {p.get("name"): p for p in descriptor.findall("parameter")}
    titles = [t for t, _ in params]
    try:
        presets = json.load(open(os.path.join(editors, "kdenlive", "presets",
                                              f"frei0r.{name}.json")))
    except (OSError, ValueError) as e:
        fail(where, f"no presets file Kdenlive can read: {e}")
        return
    kdenlive_names = []
    for entry in presets:
        if not isinstance(entry, dict) or len(entry) != 1:
            fail(where, "each preset must be an object of one name")
            continue
        (preset, values), = entry.items()
        kdenlive_names.append(preset)
        w = f"{where} {preset}"
        names = [v.get("name") for v in values]
        if sorted(names) != sorted(titles):
            fail(w, f"sets {names}, not every parameter of {titles} once")
        for v in values:
            p = kinds.get(v.get("name"))
            if p is None:
                continue
            value, kind = v.get("value"), p.get("type")
            if kind == "animated":
                m = re.fullmatch(r"0=([-0-9.e]+)", value) if isinstance(value, str) else None
                if not m or not 0 <= float(m.group(1)) <= 1:
                    fail(w, f"{v['name']}: {value!r} is no key in 0..1 at the first frame")
            elif kind == "list":
                if not isinstance(value, (int, float)) or \
                        "%g" % value not in p.get("paramlist").split(";"):
                    fail(w, f"{v['name']}: {value!r} is no item of the list")
            elif kind == "bool":
                if value not in (0, 1):
                    fail(w, f"{v['name']}: {value!r} is not 0 or 1")
            elif not isinstance(value, (int, float)) or not 0 <= value <= 1:
                fail(w, f"{v['name']}: {value!r} is not in 0..1")
            if v.get("DisplayName") != p.findtext("name"):
                fail(w, f"{v['name']}: DisplayName is not the descriptor's label")
    if len(set(kdenlive_names)) != len(kdenlive_names):
        fail(where, "a preset name twice")
    ui = open(os.path.join(editors, "shotcut", name, "ui.qml")).read()
    shotcut = shotcut_presets(ui)
    if [n for n, _ in shotcut] != kdenlive_names:
        fail(f"shotcut/{name}/ui.qml", f"presets {[n for n, _ in shotcut]} are not "
                                       f"Kdenlive's {kdenlive_names}")
    for preset, values in shotcut:
        w = f"shotcut/{name}/ui.qml {preset}"
        indices = sorted(i for i, _ in values)
        if indices != list(range(len(params))):
            fail(w, f"sets {indices}, not every parameter once")
        for i, v in values:
            if not 0 <= v <= 1:
                fail(w, f"{titles[i] if i < len(titles) else i}: {v} is not in 0..1")
    if not shotcut:
        fail(f"shotcut/{name}/ui.qml", "no presets")


def check_icon(folder):
    where = f"shotcut/{os.path.basename(folder)}"
    meta = open(os.path.join(folder, "meta.qml")).read()
    m = re.search(r'^    icon: "([^"]+)"$', meta, re.M)
    if not m:
        fail(f"{where}/meta.qml", "no icon")
        return
    try:
        head = open(os.path.join(folder, m.group(1)), "rb").read(24)
    except OSError as e:
        fail(where, f"icon: {e}")
        return
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        fail(where, f"icon {m.group(1)} is not a PNG picture")
    elif not 32 <= int.from_bytes(head[16:20], "big") <= 400:
        fail(where, f"icon {m.group(1)} is not a small picture")


def main():
    editors, plugin_dir = sys.argv[1], sys.argv[2]
    try:
        subprocess.run(["melt", "-version"], capture_output=True, check=True)
    except (OSError, subprocess.CalledProcessError):
        print("melt is not installed")
        return 77
    names = sorted(f[:-3] for f in os.listdir(plugin_dir) if f.endswith(".so"))
    for name in names:
        params = melt_parameters(plugin_dir, name)
        if not params:
            fail(name, "MLT shows no parameters")
            continue
        check_kdenlive(os.path.join(editors, "kdenlive", f"frei0r_{name}.xml"),
                       name, params)
        check_shotcut(os.path.join(editors, "shotcut", name), name, params)
        check_presets(editors, name, params)
        check_icon(os.path.join(editors, "shotcut", name))
    for f in failures:
        print(f)
    print(f"Kdenlive and Shotcut descriptors of {len(names)} plug-ins checked "
          f"against MLT: {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
