"""Sphinx configuration of the manual: the Markdown pages of docs/ as they
are (MyST), the READMEs of the tools and the benchmarks as pages of it, and
the package's reference from its docstrings."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, ".."))
# the package of this tree, so the reference is that of the source read
sys.path.insert(0, os.path.join(TOP, "python"))

project = "cavity"
author = "the cavity developers"
copyright = "the cavity developers"

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]

# anchors for the headings, so that links to page.md#a-heading resolve
myst_heading_anchors = 4

autodoc_member_order = "bysource"
autodoc_default_options = {"members": True}
# the compiled module is built by the package's build only; the manual is
# built from a source tree without it
autodoc_mock_imports = ["cavity._solver"]

html_theme = "alabaster"
html_title = "cavity manual"

# Markdown files outside docs/ that the manual holds as pages (included
# whole), so that links to them from the pages land in the manual.
PAGES_OF = {
    "README.md": "readme",
    "python/README.md": "tools",
    "bench/README.md": "benchmarks",
}


def _page_of(env, node):
    """The manual page (and anchor) a link to a file of the tree outside
    docs/ stands for, or None: the link is read relative to the page that
    has it, else to the top of the tree (text included from the README)."""
    target = node["reftarget"]
    path, _, anchor = target.partition("#")
    if not path.endswith(".md"):
        return None
    here = os.path.dirname(env.doc2path(node.get("refdoc", env.docname)))
    for base in (here, TOP):
        rel = os.path.relpath(os.path.normpath(os.path.join(base, path)), TOP)
        if rel in PAGES_OF:
            return PAGES_OF[rel], anchor
    return None


def _resolve_tree_link(app, env, node, contnode):
    from sphinx.util.nodes import make_refnode

    found = _page_of(env, node)
    if found is None:
        return None
    docname, anchor = found
    if not anchor:
        return make_refnode(app.builder, node["refdoc"], docname, None, contnode)
    std = env.get_domain("std")
    label = std.anonlabels.get(docname + ".md#" + anchor)
    if label is None:
        return None  # warned as any unresolved link
    return make_refnode(app.builder, node["refdoc"], label[0], label[1], contnode)


def setup(app):
    app.connect("missing-reference", _resolve_tree_link)
