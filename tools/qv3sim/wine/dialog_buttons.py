"""The buttons a dialog of the simulation's report shows, as qv3sim lists them for each dialog
("shown_buttons"): a task dialog's own buttons, then its common buttons in Windows' order (OK alone
when it has none); a message box's button set by the low four bits of its style. The buttons that
Windows makes are labelled in the machine's UI language ("Abbrechen" on a German Windows)."""


def shown_buttons(d):
    """[(control id, text)] of one dialog record of qv3sim's JSON report."""
    return [(b.get("id"), b.get("text")) for b in d.get("shown_buttons") or []]
