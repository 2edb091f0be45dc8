"""The buttons a dialog of the simulation's report shows, as Windows lays them out: a task
dialog's own buttons, then its common buttons in Windows' order (OK alone when it has none); a
message box's button set by the low four bits of its style."""

# A task dialog's common buttons as (flag, control id, text), in the order Windows shows them.
COMMON_BUTTONS = [(0x1, 1, "OK"), (0x2, 6, "Yes"), (0x4, 7, "No"), (0x8, 2, "Cancel"),
                  (0x10, 4, "Retry"), (0x20, 8, "Close")]
# A message box's buttons as (control id, text) by the low four bits of its style.
MESSAGE_BOX_BUTTONS = [[(1, "OK")], [(1, "OK"), (2, "Cancel")],
                       [(3, "Abort"), (4, "Retry"), (5, "Ignore")],
                       [(6, "Yes"), (7, "No"), (2, "Cancel")], [(6, "Yes"), (7, "No")],
                       [(4, "Retry"), (2, "Cancel")],
                       [(2, "Cancel"), (10, "Try Again"), (11, "Continue")]]


def shown_buttons(d):
    """[(control id, text)] of one dialog record of qv3sim's JSON report."""
    if d.get("kind") == "message box":
        style = (d.get("style") or 0) & 0xF
        return MESSAGE_BOX_BUTTONS[style] if style < len(MESSAGE_BOX_BUTTONS) else [(1, "OK")]
    buttons = [(b.get("id"), b.get("text")) for b in d.get("buttons") or []]
    mask = d.get("common_buttons") or 0
    buttons += [(bid, text) for flag, bid, text in COMMON_BUTTONS if mask & flag]
    return buttons or [(1, "OK")]
