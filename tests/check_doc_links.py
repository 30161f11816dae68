#!/usr/bin/env python3
"""The documents' links lead somewhere, and every document can be reached.

Every relative link and image in README.md and docs/*.md names a file that
exists, every #anchor names a heading of the document it points into (as
GitHub makes anchors from headings), and every docs/*.md can be reached from
README.md by following links. Links to other sites are not followed. Each
broken link is printed as FILE:LINE: what is wrong; the exit status is 1 when
there is one, else 0.

usage: check_doc_links.py SOURCE_DIR
"""
import os
import re
import sys
from urllib.parse import unquote

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^ {0,3}(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
EXTERNAL = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")  # http:, https:, mailto:


def prose(text):
    """The text with code blocks and code spans blanked, line for line, so
    that a link's offset still gives its line (a link may run over two)."""
    return "\n".join(line for _, line in prose_lines(text))


def prose_lines(text):
    """(line number, line) of each line, blank in a code block, code spans
    blanked."""
    in_fence = False
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.split("\n"), 1):
        if FENCE.match(line):
            in_fence = not in_fence
            yield number, ""
            continue
        if in_fence:
            yield number, ""
            continue
        blank = not line.strip()
        # An indented code block begins after a blank line; it runs on
        # through blank lines while the text stays indented.
        if line.startswith("    ") and (previous_blank or in_indented):
            in_indented = True
            previous_blank = blank
            yield number, ""
            continue
        if not blank:
            in_indented = False
        previous_blank = blank
        yield number, CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)


def slug(heading):
    """GitHub's anchor of a heading: its text as shown, lower case, blanks
    to '-', punctuation other than '-' and '_' dropped."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link shows its text
    text = text.replace("`", "").replace("*", "")
    text = text.strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in "-_ ")
    return text.replace(" ", "-")


def anchors(path):
    """Every anchor the headings of the Markdown file at `path` give."""
    found = set()
    seen = {}
    with open(path, encoding="utf-8") as f:
        text = f.read()
    in_fence = False
    for line in text.split("\n"):
        if FENCE.match(line):
            in_fence = not in_fence
            continue
        match = None if in_fence else HEADING.match(line)
        if match:
            base = slug(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().split("\n")[-1], file=sys.stderr)
        return 2
    root = os.path.realpath(sys.argv[1])
    docs = os.path.join(root, "docs")
    readme = os.path.join(root, "README.md")
    documents = [readme] + sorted(
        os.path.join(docs, name) for name in os.listdir(docs) if name.endswith(".md"))
    if len(documents) < 2:
        print(f"{docs}: no documents")
        return 1

    problems = []
    links_to = {document: set() for document in documents}
    checked = 0
    for document in documents:
        shown = os.path.relpath(document, root)
        with open(document, encoding="utf-8") as f:
            text = f.read()
        prose_text = prose(text)
        for match in LINK.finditer(prose_text):
            number = prose_text.count("\n", 0, match.start()) + 1
            target = match.group(1)
            if not target or EXTERNAL.match(target):
                continue
            checked += 1
            where = f"{shown}:{number}: ({target})"
            path, _, anchor = target.partition("#")
            file = (os.path.normpath(os.path.join(os.path.dirname(document), unquote(path)))
                    if path else document)
            if not os.path.exists(file):
                problems.append(f"{where}: no such file {os.path.relpath(file, root)}")
                continue
            if file in links_to:
                links_to[document].add(file)
            if anchor:
                if not file.endswith(".md") or os.path.isdir(file):
                    problems.append(f"{where}: an anchor into a file that is no document")
                elif unquote(anchor) not in anchors(file):
                    problems.append(
                        f"{where}: {os.path.relpath(file, root)} has no heading #{anchor}")

    # Reachable from README.md.
    reached = {readme}
    pending = [readme]
    while pending:
        for target in links_to[pending.pop()]:
            if target not in reached:
                reached.add(target)
                pending.append(target)
    for document in documents:
        if document not in reached:
            problems.append(f"{os.path.relpath(document, root)}: no link leads to it from README.md")

    for problem in problems:
        print(problem)
    if checked == 0:
        print("no relative link found in any document: the check read nothing")
        return 1
    print(f"{checked} links in {len(documents)} documents, {len(problems)} broken")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
