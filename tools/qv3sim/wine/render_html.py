#!/usr/bin/env python3
"""One self-contained HTML page from a report model: the described machine, what qv3sim says the
updater does there and, when the same machine was run under Wine, what the real QV3Update.exe did,
with the comparison of the two.

The page needs neither a network nor scripts: the style is inline, the simulated dialogs are
drawn with HTML and CSS, and the screenshots of the real dialogs are embedded as data: URLs.

The model (JSON):
  machine_path  the description file's path (optional)
  machine       the description as written
  sim           what `qv3sim --machine FILE --json` prints
  wine          null, or the Wine run: ran, not_run, prefix, exe, seconds, exit_status, dialogs
                (title, texts, buttons as [id, text], action, screenshot: a PNG path or null),
                processes, registry_file, file_changes, shortcuts, error_reporting_exclusions
                and, when the what-if ran first (--whatif), whatif: null (no report) or report (its
                text), sections ({title: [lines]}), dialogs (title, texts, buttons, answer),
                exit_status
  comparison    null, or agree, sections (name, verdict: agree|known|disagree, detail), lines

Usage: render_html.py MODEL.json OUT.html
Relative screenshot and registry file paths are taken from the model file's folder.
"""
import base64
import html
import json
import os
import re
import sys

from dialog_buttons import shown_buttons

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

RESULT_NAMES = {1: "OK", 2: "Cancel", 3: "Abort", 4: "Retry", 5: "Ignore", 6: "Yes", 7: "No",
                8: "Close", 10: "Try Again", 11: "Continue"}
# Icons drawn with CSS: (class, glyph, what it is).
MESSAGE_BOX_ICONS = {0x10: ("stop", "\u00d7", "error"), 0x20: ("question", "?", "question"),
                     0x30: ("warning", "!", "warning"), 0x40: ("info", "i", "information")}
TASK_DIALOG_ICONS = {65535: ("warning", "!", "warning"), 65534: ("stop", "\u00d7", "error"),
                     65533: ("info", "i", "information"), 65532: ("shield", "\u2713", "shield")}

VERDICT_WORDS = {"agree": "agree", "known": "known Wine difference", "disagree": "DISAGREE"}
# The page's sections and the comparison sections each one shows.
PAGE_SECTIONS = {"outcome": ["exit status", "what-if machine", "what-if exit status"],
                 "dialogs": ["dialogs", "what-if dialogs vs qv3sim", "what-if dialogs vs Wine"],
                 "processes": ["child programs", "processes", "what-if child programs vs qv3sim",
                               "what-if child programs vs Wine"],
                 "registry": ["registry", "what-if registry vs qv3sim", "what-if registry vs Wine"],
                 "files": ["shortcut", "shortcuts", "file changes", "error-reporting exclusions",
                           "what-if shortcut", "what-if error-reporting exclusions"]}

STYLE = """
body { font-family: "Segoe UI", "DejaVu Sans", Arial, sans-serif; font-size: 14px; color: #1b1b1b;
       margin: 20px 28px; background: #fafafa; }
h1 { font-size: 22px; margin: 0 0 12px 0; }
h2 { font-size: 18px; border-bottom: 2px solid #c8c8c8; padding-bottom: 3px; margin-top: 30px; }
h3 { font-size: 15px; margin: 16px 0 6px 0; }
table.data { border-collapse: collapse; margin: 6px 0 10px 0; background: #fff; }
table.data th, table.data td { border: 1px solid #c8c8c8; padding: 3px 7px; text-align: left;
       vertical-align: top; }
table.data th { background: #eef1f5; font-weight: 600; }
pre { background: #fff; border: 1px solid #c8c8c8; padding: 6px 8px; margin: 4px 0;
      white-space: pre-wrap; word-break: break-all; font-size: 12px; }
.none { color: #777; font-style: italic; }
.note { color: #444; margin: 4px 0; }
.verdict { display: inline-block; font-weight: bold; padding: 1px 8px; border-radius: 3px;
           font-size: 13px; margin-left: 8px; vertical-align: middle; }
.v-agree { background: #d9f2d9; color: #135c13; border: 1px solid #4caf50; }
.v-known { background: #fff1cc; color: #6b4d00; border: 1px solid #e0a800; }
.v-disagree { background: #ffd6d6; color: #8b0000; border: 1px solid #d32f2f; }
.banner { font-size: 20px; font-weight: bold; padding: 10px 14px; margin: 10px 0;
          border-radius: 4px; }
.notrun { background: #ffe9c7; border: 2px solid #e08a00; color: #5a3500; padding: 8px 12px;
          font-weight: bold; margin: 8px 0; }
.pair { display: flex; gap: 24px; align-items: flex-start; margin: 10px 0 22px 0; }
.side { flex: 1 1 0; min-width: 0; }
.side-title { font-weight: 600; color: #555; margin-bottom: 4px; }
.frame { display: inline-block; min-width: 300px; max-width: 560px; border: 1px solid #5a7ea8;
         box-shadow: 2px 3px 8px rgba(0,0,0,0.3); background: #fff; font-size: 12px;
         font-family: "Segoe UI", Tahoma, "DejaVu Sans", sans-serif; }
.titlebar { background: linear-gradient(#c9daf0, #a6c0e3); padding: 5px 8px; color: #000;
            display: flex; justify-content: space-between; }
.titlebar .x { background: #c75050; color: #fff; padding: 0 8px; font-weight: bold; }
.client { padding: 12px 14px; display: flex; gap: 10px; }
.instruction { color: #003399; font-size: 16px; margin-bottom: 8px; }
.icon { flex: 0 0 auto; width: 30px; height: 30px; border-radius: 50%; color: #fff;
        text-align: center; line-height: 30px; font-weight: bold; font-size: 18px; }
.icon.small { width: 16px; height: 16px; line-height: 16px; font-size: 11px; display: inline-block;
              margin-right: 6px; vertical-align: middle; }
.icon.stop { background: #d32f2f; } .icon.question { background: #1e64c8; }
.icon.warning { background: #f2b600; color: #000; } .icon.info { background: #1e64c8; }
.icon.shield { background: #2e7d32; }
.icon.resource { background: #e7e7e7; color: #333; border: 1px solid #999; font-size: 9px;
                 border-radius: 3px; line-height: 14px; }
.buttons { background: #f0f0f0; border-top: 1px solid #dfdfdf; padding: 9px 12px;
           text-align: right; }
.buttons.msgbox { background: #f0f0f0; }
.button { display: inline-block; min-width: 66px; padding: 3px 10px; margin-left: 6px;
          border: 1px solid #707070; border-radius: 3px; background: linear-gradient(#f6f6f6, #dcdcdc);
          text-align: center; }
.button.pressed { outline: 2px solid #1e64c8; background: #cfe3fb; font-weight: bold; }
.footer { border-top: 1px solid #dfdfdf; background: #f0f0f0; padding: 8px 12px; }
.answer { margin-top: 6px; color: #333; }
.shot img { border: 1px solid #999; max-width: 100%; }
.noshot { display: inline-block; border: 2px dashed #999; color: #555; padding: 18px 24px;
          background: #f4f4f4; font-weight: bold; }
.line-agree { color: #135c13; } .line-known { color: #6b4d00; }
.line-disagree { color: #8b0000; font-weight: bold; }
"""


def esc(value):
    """The value as HTML text: every character that means something in HTML escaped."""
    return html.escape("" if value is None else str(value), quote=True)


def multiline(value):
    """Escaped text whose line breaks (CR LF, LF or CR) show as line breaks."""
    return "<br>\n".join(esc(line) for line in re.split(r"\r\n|\n|\r", "" if value is None
                                                         else str(value)))


def pre(text):
    text = "" if text is None else str(text)
    return "<pre>%s</pre>" % esc(text.replace("\r\n", "\n"))


def none(what="none"):
    return '<span class="none">%s</span>' % esc(what)


def cell(value):
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, (dict, list)):
        return pre(json.dumps(value, ensure_ascii=False, indent=2))
    return multiline(value)


def table(headers, rows):
    """A table of escaped cells; rows are lists of values, None shown empty."""
    if not rows:
        return "<p>%s</p>" % none()
    out = ['<table class="data"><tr>%s</tr>' % "".join("<th>%s</th>" % esc(h) for h in headers)]
    for row in rows:
        out.append("<tr>%s</tr>" % "".join("<td>%s</td>" % ("" if v is None else cell(v))
                                           for v in row))
    out.append("</table>")
    return "\n".join(out)


def verdict_badge(verdict, section=""):
    word = VERDICT_WORDS.get(verdict, str(verdict))
    if verdict == "known" and section.startswith("what-if"):
        word = "known what-if difference"
    cls = verdict if verdict in VERDICT_WORDS else "disagree"
    return '<span class="verdict v-%s">%s</span>' % (cls, esc(word))


class Page:
    def __init__(self, model, base_dir):
        self.model = model
        self.base_dir = base_dir
        self.machine = model.get("machine") or {}
        self.sim = model.get("sim") or {}
        self.wine = model.get("wine")
        self.comparison = model.get("comparison")
        # The what-if's column: only when it was asked for (its model, or None: no report).
        self.whatif_asked = self.wine_ran() and "whatif" in self.wine
        self.whatif = self.wine.get("whatif") if self.whatif_asked else None
        self.pieces = []

    # Where the Wine side is: None without a Wine run, the reason when it was not run.
    def wine_ran(self):
        return bool(self.wine) and self.wine.get("ran", True) is not False

    def wine_absent_note(self):
        if not self.wine:
            return None
        if not self.wine_ran():
            return '<div class="notrun">Wine run not made: %s</div>' % multiline(
                self.wine.get("not_run") or "no reason given")
        return None

    def path(self, p):
        return p if os.path.isabs(p) else os.path.join(self.base_dir, p)

    def emit(self, text):
        self.pieces.append(text)

    def heading(self, anchor, title):
        badges = ""
        if self.comparison:
            for s in self.comparison.get("sections") or []:
                if s.get("name") in PAGE_SECTIONS.get(anchor, []):
                    badges += " %s%s" % (verdict_badge(s.get("verdict"), s.get("name")),
                                         " <small>%s</small>" % esc(s.get("name")))
        self.emit('<h2 id="%s">%s%s</h2>' % (anchor, esc(title), badges))

    # 1. The machine.
    def machine_section(self):
        title = self.machine.get("description") or self.sim.get("machine") or "Machine"
        self.emit("<h1>%s</h1>" % multiline(title))
        if self.model.get("machine_path"):
            self.emit('<p class="note">Description file: <code>%s</code></p>'
                      % esc(self.model["machine_path"]))
        rows = []
        for key, value in self.machine.items():
            if key == "description":
                continue
            if key == "registry" and isinstance(value, list):
                rows.append([key, "<pre>%s</pre>" % esc("\n".join(str(l) for l in value))])
            elif key == "registry_file" and isinstance(value, str):
                rows.append([key, esc(value) + self.registry_file_text(value)])
            elif (isinstance(value, list) and value and
                  all(isinstance(v, dict) for v in value)):
                keys = list(dict.fromkeys(k for v in value for k in v))
                rows.append([key, table(keys, [[v.get(k) for k in keys] for v in value])])
            elif key == "answers" and isinstance(value, list):
                rows.append([key, esc(", ".join(str(a) for a in value)) or none()])
            else:
                rows.append([key, cell(value)])
        if rows:
            self.emit('<table class="data"><tr><th>field</th><th>value</th></tr>%s</table>' %
                      "".join("<tr><td>%s</td><td>%s</td></tr>" % (esc(k), v) for k, v in rows))
        else:
            self.emit("<p>%s</p>" % none("every field as by default"))

    def registry_file_text(self, name):
        """The registry file a description names, shown when it can be read beside it."""
        folder = self.base_dir
        if self.model.get("machine_path"):
            folder = os.path.dirname(self.path(self.model["machine_path"]))
        p = name if os.path.isabs(name) else os.path.join(folder, name)
        try:
            with open(p, encoding="utf-8-sig") as f:
                return pre(f.read())
        except (OSError, UnicodeDecodeError):
            return ""

    # 2. The outcome.
    def outcome_section(self):
        self.heading("outcome", "Outcome")
        if self.comparison:
            agree = bool(self.comparison.get("agree"))
            self.emit('<div class="banner v-%s">Simulation and Wine run: %s</div>' % (
                "agree" if agree else "disagree", "agree" if agree else "DISAGREE"))
        rows = [["simulation: outcome", self.sim.get("outcome")],
                ["simulation: exit status", self.sim.get("exit_status")]]
        for key in ("windows_calls", "handles_left_open"):
            if key in self.sim:
                rows.append(["simulation: " + key.replace("_", " "), self.sim[key]])
        if self.wine_ran():
            for key in ("exit_status", "prefix", "exe", "seconds"):
                if key in self.wine:
                    rows.append(["Wine run: " + key.replace("_", " "), self.wine[key]])
        if self.whatif_asked:
            rows.append(["what-if (run first): exit status",
                         self.whatif["exit_status"] if self.whatif else "no report"])
        self.emit(table(["", "value"], rows))
        for title in ("Machine (as read)", "Package", "Outcome so far"):
            self.whatif_side(lambda w: pre("\n".join(w["sections"].get(title, []))), title)
        note = self.wine_absent_note()
        if note:
            self.emit(note)

    # 3. The dialogs.
    def dialogs_section(self):
        self.heading("dialogs", "Dialogs")
        sim_dialogs = self.sim.get("dialogs") or []
        wine_dialogs = (self.wine.get("dialogs") or []) if self.wine_ran() else []
        whatif_dialogs = (self.whatif or {}).get("dialogs") or []
        count = max(len(sim_dialogs), len(wine_dialogs), len(whatif_dialogs))
        if count == 0:
            self.emit("<p>%s</p>" % none("no dialog"))
        for i in range(count):
            self.emit("<h3>Dialog %d</h3>" % (i + 1))
            self.emit('<div class="pair"><div class="side"><div class="side-title">Simulation'
                      '</div>')
            if i < len(sim_dialogs):
                self.emit(self.sim_dialog(sim_dialogs[i]))
            else:
                self.emit("<p>%s</p>" % none("no dialog in the simulation"))
            self.emit("</div>")
            if self.wine:
                self.emit('<div class="side"><div class="side-title">Wine</div>')
                if not self.wine_ran():
                    self.emit(self.wine_absent_note())
                elif i < len(wine_dialogs):
                    self.emit(self.wine_dialog(wine_dialogs[i]))
                else:
                    self.emit("<p>%s</p>" % none("no dialog in the Wine run"))
                self.emit("</div>")
            if self.whatif_asked:
                self.emit('<div class="side"><div class="side-title">What-if (not shown)</div>')
                if i < len(whatif_dialogs):
                    d = whatif_dialogs[i]
                    client = '<div class="client"><div>%s</div></div>' % "".join(
                        '<div class="content">%s</div>' % multiline(t) for t in d["texts"])
                    self.emit(self.frame(d["title"], client, self.buttons_html(
                        [(None, b) for b in d["buttons"]], -1)))
                    self.emit('<div class="answer">Taken as button %s</div>' % esc(d["answer"]))
                else:
                    self.emit("<p>%s</p>" % none("no dialog in the what-if"))
                self.emit("</div>")
            self.emit("</div>")

    @staticmethod
    def buttons_html(buttons, result, extra_class=""):
        return '<div class="buttons%s">%s</div>' % (extra_class, "".join(
            '<span class="button%s">%s</span>' % (" pressed" if bid == result else "", esc(text))
            for bid, text in buttons))

    @staticmethod
    def frame(title, client, bottom):
        return ('<div class="frame"><div class="titlebar"><span>%s</span><span class="x">'
                '\u00d7</span></div>%s%s</div>' % (multiline(title), client, bottom))

    @staticmethod
    def icon(table_, value):
        if value in table_:
            cls, glyph, what = table_[value]
            return '<div class="icon %s" title="%s">%s</div>' % (cls, esc(what), esc(glyph))
        return ""

    def sim_dialog(self, d):
        result = d.get("result")
        kind = d.get("kind")
        if kind == "task dialog":
            buttons = shown_buttons(d)
            main_icon = d.get("main_icon")
            icon = self.icon(TASK_DIALOG_ICONS, main_icon)
            if not icon and main_icon:
                icon = '<div class="icon resource" title="icon resource">#%s</div>' % esc(main_icon)
            body = ""
            if d.get("main_instruction"):
                body += '<div class="instruction">%s</div>' % multiline(d["main_instruction"])
            if d.get("content"):
                body += '<div class="content">%s</div>' % multiline(d["content"])
            client = '<div class="client">%s<div>%s</div></div>' % (icon, body)
            bottom = self.buttons_html(buttons, result)
            if d.get("footer"):
                small = self.icon(TASK_DIALOG_ICONS, d.get("footer_icon")).replace(
                    'class="icon ', 'class="icon small ')
                bottom += '<div class="footer">%s%s</div>' % (small, multiline(d["footer"]))
            box = self.frame(d.get("window_title"), client, bottom)
        elif kind == "message box":
            style = d.get("style") or 0
            buttons = shown_buttons(d)
            icon = self.icon(MESSAGE_BOX_ICONS, style & 0xF0)
            client = '<div class="client">%s<div class="content">%s</div></div>' % (
                icon, multiline(d.get("text")))
            box = self.frame(d.get("caption"), client,
                             self.buttons_html(buttons, result, " msgbox"))
        else:
            box = pre(json.dumps(d, ensure_ascii=False, indent=2))
            buttons = []
        names = dict(RESULT_NAMES)
        names.update({bid: text for bid, text in buttons})
        answer = '<div class="answer">The simulated user: <b>%s</b> &rarr; result %s%s</div>' % (
            esc(d.get("answer", "")), esc(result),
            " (%s)" % esc(names[result]) if result in names else "")
        return box + answer

    def wine_dialog(self, d):
        shot = d.get("screenshot")
        if not shot:
            picture = '<div class="noshot">no screenshot</div>'
        else:
            try:
                with open(self.path(shot), "rb") as f:
                    data = f.read()
            except OSError:
                data = None
            if data is None:
                picture = '<div class="noshot">no screenshot (%s not found)</div>' % esc(shot)
            elif not data.startswith(PNG_SIGNATURE):
                picture = '<div class="noshot">no screenshot (%s is not a PNG)</div>' % esc(shot)
            else:
                picture = '<img alt="screenshot of the dialog" src="data:image/png;base64,%s">' % (
                    base64.b64encode(data).decode("ascii"))
        texts = d.get("texts") or []
        rows = [["title", d.get("title")],
                ["texts", "".join('<div>%s</div>' % multiline(t) for t in texts)
                 if texts else none()],
                ["buttons", ", ".join("%s (%s)" % (esc(b[1] if len(b) > 1 else ""), esc(b[0]))
                                      for b in d.get("buttons") or []) or none()],
                ["action", d.get("action")]]
        facts = '<table class="data">%s</table>' % "".join(
            "<tr><th>%s</th><td>%s</td></tr>" % (esc(k), multiline(v) if k in ("title", "action")
                                                 else v) for k, v in rows)
        return '<div class="shot">%s</div>%s' % (picture, facts)

    # 4. Child processes.
    def processes_section(self):
        self.heading("processes", "Processes")
        self.emit("<h3>Simulation</h3>")
        keys = ["application_name", "command_line", "image", "started", "waited_for"]
        self.emit(table(keys, [[p.get(k) for k in keys] for p in self.sim.get("processes") or []]))
        self.wine_side(lambda w: table(["image", "command_line"],
                                       [[p.get("image"), p.get("command_line")]
                                        for p in w.get("processes") or []]))
        self.whatif_side(lambda w: pre("\n".join(w["sections"].get("Child processes, none started", []))))

    def whatif_side(self, body, title=""):
        """The what-if's side of a section (its report's lines), or why there is none."""
        if not self.whatif_asked:
            return
        self.emit("<h3>What-if%s</h3>" % (": " + esc(title) if title else ""))
        self.emit(body(self.whatif) if self.whatif else "<p>%s</p>" % none("the what-if wrote no report"))

    def wine_side(self, body):
        """The Wine side of a section: its heading and body, or why there is none."""
        if not self.wine:
            return
        self.emit("<h3>Wine</h3>")
        self.emit(self.wine_absent_note() or body(self.wine))

    # 5. Registry changes.
    def registry_section(self):
        self.heading("registry", "Registry changes")
        self.emit('<p class="note">Each text below can be saved as a .reg file and imported '
                  'with regedit (<code>regedit /s changes.reg</code>).</p>')
        self.emit("<h3>Simulation</h3>")
        views = self.sim.get("registry") or {}
        if isinstance(views, dict) and views:
            self.emit(table(["view", "values written", "keys changed", "rewritten unchanged"],
                            [[name, v.get("values_written"), len(v.get("changes") or []),
                              v.get("rewritten_unchanged")] for name, v in views.items()
                             if isinstance(v, dict)]))
        self.emit(pre(self.sim.get("registry_file")) if self.sim.get("registry_file")
                  else "<p>%s</p>" % none("no registry file"))
        self.wine_side(lambda w: pre(w["registry_file"]) if w.get("registry_file")
                       else "<p>%s</p>" % none("no registry file"))
        self.whatif_side(lambda w: pre("\n".join(w["sections"].get("Registry changes", []))))

    # 6. Files, shortcuts, error-reporting exclusions.
    def files_section(self):
        self.heading("files", "Files, shortcuts, error-reporting exclusions")
        self.emit("<h3>Simulation</h3>")
        self.emit(self.files_of(self.sim))
        self.wine_side(self.files_of)
        self.whatif_side(lambda w: pre("\n".join(
            w["sections"].get("File changes", []) + ["", "Error reporting exclusions:"] +
            w["sections"].get("Error reporting exclusions", []))))

    @staticmethod
    def files_of(side):
        changes = side.get("file_changes") or []
        out = ["<p><b>File changes</b></p>",
               "<ul>%s</ul>" % "".join("<li>%s</li>" % multiline(c) for c in changes)
               if changes else "<p>%s</p>" % none()]
        keys = ["path", "target", "arguments", "working_directory", "description", "icon_path",
                "icon_index", "show_command"]
        out.append("<p><b>Shortcuts</b></p>")
        out.append(table(keys, [[s.get(k) for k in keys] for s in side.get("shortcuts") or []]))
        out.append("<p><b>Error-reporting exclusions</b></p>")
        out.append(table(["name", "all users"],
                         [[e.get("name"), e.get("all_users")]
                          for e in side.get("error_reporting_exclusions") or []]))
        return "\n".join(out)

    # 7. The comparison.
    def comparison_section(self):
        if not self.comparison:
            return
        self.heading("comparison", "Comparison")
        rows = ["<tr><td>%s</td><td>%s</td><td>%s</td></tr>" % (
            esc(s.get("name")), verdict_badge(s.get("verdict"), s.get("name")),
            multiline(s.get("detail")))
            for s in self.comparison.get("sections") or []]
        if rows:
            self.emit('<table class="data"><tr><th>section</th><th>verdict</th><th>detail</th>'
                      '</tr>%s</table>' % "".join(rows))
        lines = self.comparison.get("lines") or []
        if lines:
            out, cls = [], ""
            for line in lines:
                if line.startswith("DISAGREE"):
                    cls = "line-disagree"
                elif line.startswith("known"):
                    cls = "line-known"
                elif line.startswith("agree"):
                    cls = "line-agree"
                elif not line.startswith(" "):
                    cls = ""
                out.append('<span class="%s">%s</span>' % (cls, esc(line)))
            self.emit("<pre>%s</pre>" % "\n".join(out))

    def render(self):
        self.machine_section()
        self.outcome_section()
        self.dialogs_section()
        self.processes_section()
        self.registry_section()
        self.files_section()
        self.comparison_section()
        title = self.machine.get("description") or self.sim.get("machine") or "qv3sim report"
        return ('<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
                '<title>%s</title>\n<style>%s</style>\n</head>\n<body>\n%s\n</body>\n</html>\n'
                % (esc(title), STYLE, "\n".join(self.pieces)))


def render(model, base_dir=None):
    """The page for the model, as text; relative paths in it are taken from base_dir (by
    default the current folder)."""
    return Page(model, base_dir or os.getcwd()).render()


def main(argv):
    """Exit status as qv3sim's: 0 written, 2 a mistake in the command or the model (one line on
    standard error says which), 1 a failure of this program."""
    if len(argv) != 3:
        sys.stderr.write("render_html.py: error: usage: render_html.py MODEL.json OUT.html\n")
        return 2
    try:
        with open(argv[1], encoding="utf-8-sig") as f:
            model = json.load(f)
    except OSError as e:
        sys.stderr.write("%s: error: cannot read the model: %s\n" %
                         (argv[1], (e.strerror or "unknown reason").lower()))
        return 2
    except (UnicodeDecodeError, json.JSONDecodeError) as e:
        where = ":%d:%d" % (e.lineno, e.colno) if isinstance(e, json.JSONDecodeError) else ""
        sys.stderr.write("%s%s: error: the model is not JSON in UTF-8\n" % (argv[1], where))
        return 2
    if not isinstance(model, dict):
        sys.stderr.write("%s: error: the model must be a JSON object\n" % argv[1])
        return 2
    page = render(model, os.path.dirname(os.path.abspath(argv[1])))
    try:
        with open(argv[2], "w", encoding="utf-8", newline="\n") as f:
            f.write(page)
    except OSError as e:
        sys.stderr.write("%s: error: cannot write the page: %s\n" %
                         (argv[2], (e.strerror or "unknown reason").lower()))
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except Exception:  # noqa: BLE001  a defect: where, not the exception's text
        import traceback
        frame = traceback.extract_tb(sys.exc_info()[2])[-1]
        sys.stderr.write("render_html.py: error: unexpected failure (a defect: %s, line %d)\n" %
                         (sys.exc_info()[0].__name__, frame.lineno))
        sys.exit(1)
