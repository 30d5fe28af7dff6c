#!/usr/bin/env python3
"""Builds the served panel page: inline_page.py <page.html> <output.html>.

Replaces every <link rel="stylesheet" href="X"> with <style> holding X and every
<script src="X"></script> with <script> holding X (paths relative to the page), so the result is
one self-contained UTF-8 document. Fails when the key placeholder does not appear exactly once,
when an inlined file would end its element early, or when the result is not UTF-8.
"""
import os
import re
import sys

PLACEHOLDER = b"TWTOKENPLACEHOLDER00000000000000"


def fail(message):
    sys.stderr.write("inline_page.py: %s\n" % message)
    sys.exit(1)


def main():
    source, target = sys.argv[1:3]
    folder = os.path.dirname(os.path.abspath(source))
    page = open(source, "rb").read()

    def read(name):
        path = os.path.join(folder, name.decode("ascii"))
        if not os.path.isfile(path):
            fail("%s names %s, which does not exist" % (source, path))
        return open(path, "rb").read()

    def style(match):
        css = read(match.group(1))
        if b"</style" in css.lower():
            fail("%s contains </style" % match.group(1).decode())
        return b"<style>\n" + css + b"</style>"

    def script(match):
        js = read(match.group(1))
        if b"</script" in js.lower():
            fail("%s contains </script" % match.group(1).decode())
        return b"<script>\n" + js + b"</script>"

    page = re.sub(rb'<link rel="stylesheet" href="([^"]+)">', style, page)
    page = re.sub(rb'<script src="([^"]+)"></script>', script, page)
    if page.count(PLACEHOLDER) != 1:
        fail("the key placeholder appears %d times, not once" % page.count(PLACEHOLDER))
    try:
        page.decode("utf-8")
    except UnicodeDecodeError as error:
        fail("not UTF-8: %s" % error)
    with open(target, "wb") as out:
        out.write(page)


if __name__ == "__main__":
    main()
