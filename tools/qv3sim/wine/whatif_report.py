"""The updater's what-if report (QV3Update.exe /whatif PATH) read back: its sections, its dialogs and
its registry changes, for qv3sim's third column (--whatif) and the comparison with the simulation
and the real run (tests/e2e/compare_sim.py)."""
import re

VIEW64, VIEW32, VIEW_ONLY = "64-bit view", "32-bit view", "registry"


def fold(text):
    return text.casefold()


def parse_value_line(line):
    """(name, data) of a regedit value line ("" the default value; data None: deleted)."""
    if line.startswith("@="):
        return "", normal_data(line[2:])
    m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line, re.S)
    name = m.group(1).replace('\\"', '"').replace("\\\\", "\\")
    data = m.group(2)
    return name, None if data == "-" else normal_data(data.replace("\\\n", ""))


def normal_data(data):
    return data if data.startswith('"') else re.sub(r"\s+", "", data).lower()


def read_whatif(path):
    """{section title: [lines]} of a what-if report; the lines before the first title as "head";
    "quiet" when the run shows no dialog (/quiet), its dialogs under "Dialogs" all the same."""
    sections, name = {}, "head"
    for line in open(path, encoding="utf-8-sig").read().replace("\r\n", "\n").split("\n"):
        m = re.match(r"^== (.*?)(?: \(\d+\))? =+$", line)
        if m:
            name = m.group(1)
            if name.startswith("Dialogs, answered without being shown"):  # /quiet
                sections["quiet"], name = [], "Dialogs"
        sections.setdefault(name, []).append(line) if not m else sections.setdefault(name, [])
    return sections


def field(lines, label):
    return next((l.split(":", 1)[1].strip() for l in lines if l.startswith(label + ":")), None)


def whatif_dialogs(lines):
    out = []
    for line in lines:
        m = re.match(r'^Dialog \d+: (?:task dialog|message box) "(.*)", not shown$', line)
        if m:
            out.append({"title": m.group(1), "texts": [], "buttons": [], "answer": None})
        elif out and line.startswith("  | "):
            out[-1]["texts"][-1] += "\r\n" + line[4:]
        elif out and re.match(r"^  (main instruction|text|footer): ", line):
            out[-1]["texts"].append(line.split(": ", 1)[1])
        elif out and line.startswith("  buttons:"):
            m = re.match(r"^  buttons:(.*); taken as button (-?\d+)$", line)
            out[-1]["buttons"] = re.findall(r"\[([^\]]*)\]", m.group(1))
            out[-1]["answer"] = int(m.group(2))
    return out


def whatif_registry(lines):
    """The report's registry changes as diff_views takes them; values written with the data
    they had already are no change."""
    joined, buf = [], ""
    for line in lines:
        buf += line.strip() if buf else line
        if buf.endswith("\\") and "=" in buf:
            buf = buf[:-1]
            continue
        joined.append(buf)
        buf = ""
    parts = {"; 64-bit view (and keys both views share)": VIEW64, "; 32-bit view": VIEW32,
             "; registry": VIEW_ONLY}
    views, view, key, last = {}, None, None, None
    for line in joined:
        if line in parts:
            view = views.setdefault(parts[line], {})
        elif line.startswith("[") and view is not None:
            name = line[1:-1].lstrip("-")
            key = view.setdefault(fold(name), (name, {}, line.startswith("[-"), []))
        elif line == "; a new key" and key is not None:
            key[3].append(True)
        elif line.startswith("; before: ") and last:
            before = "none" if line.startswith("; before: none") else parse_value_line(line[10:])[1]
            if before == last[1][1]:
                del key[1][last[0]]
        elif key is not None and (line.startswith('"') or line.startswith("@=")):
            name, data = parse_value_line(line)
            last = (fold(name), (name, data))
            key[1][last[0]] = last[1]
    # A key that existed and kept its values is no change.
    return {n: {fk: k[:3] for fk, k in v.items() if k[1] or k[2] or k[3]} for n, v in views.items()}


