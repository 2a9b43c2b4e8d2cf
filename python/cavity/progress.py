"""The progress of a simulation as it advances: a line rewritten in place on
a terminal (standard error, only where it is one), or an HTML line updated
in place in a notebook (an IPython display handle; no widgets needed).
"""

import sys
import time


def _in_notebook():
    try:
        from IPython import get_ipython
    except ImportError:
        return False
    shell = get_ipython()
    return shell is not None and hasattr(shell, "kernel")


class Progress:
    """A progress display of a simulation; ``where`` is "notebook",
    "terminal", None (none) or "auto" (a notebook's if the code runs in
    one, else standard error's if it is a terminal, else none). Redrawn at
    most four times a second."""

    def __init__(self, where="auto", target=None):
        if where == "auto":
            where = ("notebook" if _in_notebook()
                     else "terminal" if sys.stderr.isatty() else None)
        self.where = where
        self.target = target
        self.start = time.monotonic()
        self.shown = 0.0
        self.handle = None
        self.width = 0

    def text(self, sim, made):
        elapsed = time.monotonic() - self.start
        parts = ["step %d" % sim.step]
        if self.target:
            parts.append("%d of %d steps" % (made, self.target))
        parts.append("%.0f s" % elapsed)
        if elapsed > 0 and made > 0:
            parts.append("%.3g steps/s" % (made / elapsed))
        last = sim.last_report()
        if last is not None:
            parts.append("Nu %.7g  residuals T %.2g flow %.2g"
                         % (last["Nu"], last["Residual_T"], last["Residual_Flow"]))
        parts.append(sim.ending)
        return "  ".join(parts)

    def show(self, sim, made, final=False):
        if self.where is None:
            return
        now = time.monotonic()
        if not final and now - self.shown < 0.25:
            return
        self.shown = now
        line = self.text(sim, made)
        if self.where == "terminal":
            pad = max(0, self.width - len(line))
            sys.stderr.write("\r" + line + " " * pad + ("\n" if final else ""))
            sys.stderr.flush()
            self.width = len(line)
        else:
            self._show_html(line, made)

    def _show_html(self, line, made):
        from IPython.display import HTML, display
        bar = ""
        if self.target:
            share = min(1.0, made / float(self.target))
            bar = ('<progress value="%d" max="1000" style="width: 16em"></progress> '
                   % int(1000 * share))
        html = HTML('<div style="font-family: monospace">%s%s</div>' % (bar, line))
        if self.handle is None:
            self.handle = display(html, display_id=True)
        else:
            self.handle.update(html)
