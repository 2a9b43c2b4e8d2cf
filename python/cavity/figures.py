"""What every tool that draws shares: the file format, the resolution,
whether figures carry a title, and titles that fit their figure."""

import os

FORMATS = ("png", "pdf", "svg")


def add_arguments(ap, dpi=200):
    g = ap.add_argument_group("figures")
    g.add_argument("--format", choices=FORMATS, default=None,
                   help="file format of the figures: png (default), or pdf "
                   "and svg, vector formats for papers")
    g.add_argument("--dpi", type=int, default=dpi,
                   help="resolution of PNG figures, dots an inch (default "
                   "%(default)s)")
    g.add_argument("--no-title", action="store_true",
                   help="leave the titles out (for a caption of your own)")
    return g


def check(args):
    """A problem with the figure options, or None."""
    if args.dpi < 10:
        return "--dpi must be at least 10"
    return None


class Style:
    """The figure options of a tool: ``format`` (None: the default, png),
    ``dpi``, ``title`` (False: no titles)."""

    def __init__(self, format=None, dpi=200, title=True):
        self.format, self.dpi, self.title = format, dpi, title

    @classmethod
    def of(cls, args):
        return cls(args.format, args.dpi, not args.no_title)

    def path(self, stem):
        """``stem`` with the extension of the format."""
        return "%s.%s" % (stem, self.format or "png")

    def file(self, path):
        """A file name given in full: its extension sets the format unless
        --format says otherwise, in which case the extension follows it."""
        base, ext = os.path.splitext(path)
        if self.format is None and ext[1:].lower() in FORMATS:
            return path
        return self.path(base if ext[1:].lower() in FORMATS else path)


def wrap(fig, parts, fontsize, width=0.9, sep=", "):
    """``parts`` joined by ``sep`` into as few lines as fit ``width`` of
    the figure's width, measured as the renderer draws them."""
    from matplotlib.font_manager import FontProperties
    renderer = fig.canvas.get_renderer()
    prop = FontProperties(size=fontsize)
    room = width * fig.get_figwidth() * fig.dpi

    def wide(text):
        math = text.count("$") >= 2
        return renderer.get_text_width_height_descent(text, prop, ismath=math)[0]

    lines = []
    for part in parts:
        if lines and wide(lines[-1] + sep + part) <= room:
            lines[-1] += sep + part
        else:
            lines.append(part)
    return "\n".join(lines)


def title(style, target, parts, fontsize=10, width=0.9, sep=", "):
    """Sets the title of ``target`` (an Axes, or a Figure for its
    suptitle) from ``parts`` wrapped to fit ``width`` of the figure's
    width, unless the style has none."""
    if not style.title or not parts:
        return
    fig = target if hasattr(target, "suptitle") else target.figure
    text = wrap(fig, parts, fontsize, width, sep)
    if target is fig:
        fig.suptitle(text, fontsize=fontsize)
    else:
        target.set_title(text, fontsize=fontsize)


def save(fig, path, style, **kw):
    """Writes ``fig`` to ``path`` in the style's format and closes it."""
    import matplotlib.pyplot as plt
    fmt = os.path.splitext(path)[1][1:].lower()
    fig.savefig(path, format=fmt if fmt in FORMATS else None, dpi=style.dpi,
                **kw)
    plt.close(fig)
