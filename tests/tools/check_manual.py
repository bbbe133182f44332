#!/usr/bin/python3
"""Checks the HTML user manual: every file well-formed, every internal link resolvable.

Usage: check_manual.py <manual directory>

For each *.html file of the directory:
  - it decodes as UTF-8 and declares <!DOCTYPE html>, <html lang=...>, <meta charset="utf-8">
    and a non-empty <title>;
  - every element that is not a void element is closed explicitly and in order (the manual is
    written that way, so a missing or misplaced end tag is a fault, not an omitted optional tag);
  - only known HTML element names occur (an unescaped "<" in a score example shows up as an
    unknown element);
  - ids are unique;
  - href="#id" names an id of the same file, href="file.html#id" an existing file of the manual
    and an id in it; nothing refers outside the manual (no URL scheme, no "..", no absolute path);
  - there is no script, no external style sheet and no event-handler attribute.
index.html must exist and every other page must be reachable from it through links.

When the editor's sources sit beside the manual (../../editor/ui/main_window_menus.cpp and
../../editor/view/score_view.cpp), every menu and
menu-item caption and every tool-bar tool tip found there must appear in every page, so that a
command added to the editor without a line in the manual is noticed.

Exit status 0 when everything holds, 1 with one line per fault otherwise.
"""

import os
import re
import sys
from html.parser import HTMLParser

VOID_ELEMENTS = {
    "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source",
    "track", "wbr",
}
KNOWN_ELEMENTS = VOID_ELEMENTS | {
    "a", "abbr", "article", "aside", "b", "blockquote", "body", "caption", "cite", "code",
    "colgroup", "dd", "del", "details", "dfn", "div", "dl", "dt", "em", "figcaption", "figure",
    "footer", "h1", "h2", "h3", "h4", "h5", "h6", "head", "header", "html", "i", "ins", "kbd",
    "li", "main", "mark", "nav", "ol", "p", "pre", "q", "s", "samp", "section", "small", "span",
    "strong", "style", "sub", "summary", "sup", "table", "tbody", "td", "tfoot", "th", "thead",
    "time", "title", "tr", "u", "ul", "var",
}
FORBIDDEN_ELEMENTS = {"script", "iframe", "object", "embed", "link"}
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


class PageParser(HTMLParser):
    """Collects structure faults, ids, links and the visible text of one page."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.faults = []
        self.stack = []  # (tag, line) of the open elements
        self.ids = set()
        self.links = []  # (href, line)
        self.text = []
        self.has_doctype = False
        self.html_lang = None
        self.has_charset = False
        self.title = None
        self._in_title = False

    def fault(self, message):
        self.faults.append(f"line {self.getpos()[0]}: {message}")

    def handle_decl(self, decl):
        if decl.strip().lower() == "doctype html":
            self.has_doctype = True

    def handle_starttag(self, tag, attrs):
        self._start(tag, attrs)
        if tag not in VOID_ELEMENTS:
            self.stack.append((tag, self.getpos()[0]))
            if tag == "title":
                self._in_title = True
                self.title = ""

    def handle_startendtag(self, tag, attrs):
        self._start(tag, attrs)
        if tag not in VOID_ELEMENTS:
            self.fault(f"<{tag}/> is not a void element; close it with </{tag}>")

    def _start(self, tag, attrs):
        if tag not in KNOWN_ELEMENTS and tag not in FORBIDDEN_ELEMENTS:
            self.fault(f"unknown element <{tag}> (an unescaped '<' in the text?)")
        if tag in FORBIDDEN_ELEMENTS:
            self.fault(f"<{tag}> is not allowed: the manual is one self-contained page set")
        values = dict(attrs)
        if tag == "html":
            self.html_lang = values.get("lang")
        if tag == "meta" and (values.get("charset") or "").lower() == "utf-8":
            self.has_charset = True
        for name, value in attrs:
            if name.startswith("on"):
                self.fault(f"event-handler attribute {name} on <{tag}>")
            if name == "id":
                if not value:
                    self.fault(f"empty id on <{tag}>")
                elif value in self.ids:
                    self.fault(f"duplicate id '{value}'")
                else:
                    self.ids.add(value)
            if name == "href":
                self.links.append((value or "", self.getpos()[0]))
            if name == "src":
                self.fault(f"src= on <{tag}>: the manual embeds no external resources")

    def handle_endtag(self, tag):
        if tag in VOID_ELEMENTS:
            self.fault(f"end tag </{tag}> of a void element")
            return
        if not self.stack:
            self.fault(f"stray end tag </{tag}>")
            return
        open_tag, open_line = self.stack[-1]
        if open_tag != tag:
            self.fault(f"</{tag}> closes <{open_tag}> opened on line {open_line}")
            # Recover when the end tag matches an element further down: those above are unclosed.
            if any(t == tag for t, _ in self.stack):
                while self.stack and self.stack[-1][0] != tag:
                    self.stack.pop()
                self.stack.pop()
            return
        self.stack.pop()
        if tag == "title":
            self._in_title = False

    def handle_data(self, data):
        if self._in_title:
            self.title += data
        self.text.append(data)

    def finish(self):
        self.close()
        for tag, line in self.stack:
            self.faults.append(f"line {line}: <{tag}> is never closed")
        if not self.has_doctype:
            self.faults.append("missing <!DOCTYPE html>")
        if not self.html_lang:
            self.faults.append("missing lang attribute on <html>")
        if not self.has_charset:
            self.faults.append('missing <meta charset="utf-8">')
        if not (self.title or "").strip():
            self.faults.append("missing or empty <title>")


def normalise(text):
    return re.sub(r"\s+", " ", text).strip()


def editor_captions(manual_dir):
    """Menu captions and tool tips of the editor, as the user sees them (mnemonic '&' removed)."""
    editor = os.path.join(manual_dir, os.pardir, os.pardir, "editor")
    if not os.path.isdir(editor):
        return None  # an installed manual, without the sources
    sources = [os.path.join(editor, "ui", "main_window_menus.cpp"),
               os.path.join(editor, "view", "score_view.cpp")]
    if not all(os.path.isfile(source) for source in sources):
        return []  # reported: the check would otherwise stop checking without a word
    code = ""
    for source in sources:
        with open(source, encoding="utf-8") as f:
            code += f.read()
    # The action tables' entries: the window's {&TForm1::item, "name", "caption", shortcut,
    # "hint" or nullptr, ...} and the view's {&ScoreView::item, "caption", shortcut, ...}.
    captions = []
    for caption, hint in re.findall(
            r'\{&(?:TForm1::\w+,\s*"\w+"|ScoreView::\w+),\s*"([^"]+)",\s*(?:\{\}|[^,"]+),\s*'
            r'(?:"([^"]+)"|nullptr)', code):
        captions.append(caption)
        if hint:
            captions.append(hint)
    # The menus' table: {&T::File1, "File1", "title", ...}
    captions += re.findall(r'\{&T::\w+,\s*"\w+",\s*"([^"]+)"', code)
    captions += re.findall(r'\bnew QMenu\(\s*"([^"]+)"', code)  # submenus
    return sorted({normalise(c.replace("&", "")) for c in captions})


def check(manual_dir):
    faults = []
    pages = sorted(n for n in os.listdir(manual_dir) if n.endswith(".html"))
    if "index.html" not in pages:
        return ["index.html (the entry page) is missing"]

    parsed = {}
    for name in pages:
        path = os.path.join(manual_dir, name)
        try:
            with open(path, encoding="utf-8", newline="") as f:
                content = f.read()
        except UnicodeDecodeError as error:
            faults.append(f"{name}: not UTF-8 ({error})")
            continue
        parser = PageParser()
        parser.feed(content)
        parser.finish()
        faults += [f"{name}: {fault}" for fault in parser.faults]
        parsed[name] = parser

    edges = {name: set() for name in parsed}
    for name, parser in parsed.items():
        for href, line in parser.links:
            where = f"{name}: line {line}"
            if not href or href == "#":
                faults.append(f"{where}: empty link")
                continue
            if SCHEME.match(href) or href.startswith("/") or href.startswith("\\"):
                faults.append(f"{where}: link '{href}' leaves the manual")
                continue
            target, _, fragment = href.partition("#")
            target = target or name
            if "/" in target or "\\" in target or target not in parsed:
                faults.append(f"{where}: link '{href}' names no page of the manual")
                continue
            edges[name].add(target)
            if fragment and fragment not in parsed[target].ids:
                faults.append(f"{where}: link '{href}': no id '{fragment}' in {target}")

    reached, todo = set(), ["index.html"]
    while todo:
        page = todo.pop()
        if page in reached or page not in edges:
            continue
        reached.add(page)
        todo.extend(edges[page])
    for page in sorted(set(parsed) - reached):
        faults.append(f"{page}: not reachable from index.html")

    captions = editor_captions(manual_dir)
    if captions is not None:
        if not captions:
            faults.append("editor/ui/main_window.cpp: no menu captions found (has its form changed?)")
        for name, parser in parsed.items():
            text = normalise("".join(parser.text))
            for caption in captions:
                if caption not in text:
                    faults.append(f"{name}: the editor's '{caption}' is not described")
    return faults


def main():
    if len(sys.argv) != 2 or not os.path.isdir(sys.argv[1]):
        print("usage: check_manual.py <manual directory>", file=sys.stderr)
        return 2
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    if not faults:
        print("manual OK")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
