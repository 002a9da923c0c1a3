#!/usr/bin/env python3
"""Writes the engine benchmark's Spanish sentences (sentences_es.txt beside this script).

The text comes from Debian's manpages-es (scripts/install-bench-deps installs it): every page
under /usr/share/man/es/ is rendered by man(1) with very wide lines, so that a paragraph is one
line, and split into sentences. Prose sentences of 20 to 100 characters are kept (no option
lists, code or paths); a fixed number is drawn with a fixed seed, so a rerun on the same package
writes the same file.
"""

import glob
import os
import random
import re
import subprocess
import sys

COUNT = 300
SEED = 20261206
SPANISH = set("el la los las de del que en por para con una un es se no su al como más".split())
CODE = re.compile(r"[{}\[\]<>=|\\/$#@_*`~^;]|--|\b\w+\(\d?\)|\.\w{1,4}\b|::|^\W")


def render(page):
    environment = dict(os.environ, MANWIDTH="10000", MAN_KEEP_FORMATTING="", LC_ALL="C.UTF-8")
    result = subprocess.run(["man", "-l", "-E", "UTF-8", page], capture_output=True,
                            env=environment, timeout=60)
    return result.stdout.decode("utf-8", "replace")


def sentences(text):
    for line in text.splitlines():
        line = " ".join(line.split())
        for piece in re.split(r"(?<=[.!?])\s+(?=[A-ZÁÉÍÓÚÑ¿¡])", line):
            yield piece


def keep(sentence):
    if not 20 <= len(sentence) <= 100 or CODE.search(sentence):
        return False
    if sentence[-1] not in ".!?:" or not sentence[0].isupper():
        return False
    words = re.findall(r"\w+", sentence.lower())
    return len(words) >= 4 and sum(w in SPANISH for w in words) >= 2


def main():
    pages = sorted(glob.glob("/usr/share/man/es/man*/*"))
    if not pages:
        sys.exit("no Spanish manual pages: run scripts/install-bench-deps")
    found = set()
    for page in pages:
        found.update(s for s in sentences(render(page)) if keep(s))
    chosen = random.Random(SEED).sample(sorted(found), min(COUNT, len(found)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__),
                                                             "sentences_es.txt")
    with open(out, "w", encoding="utf-8") as f:
        f.writelines(s + "\n" for s in chosen)
    print(f"{len(chosen)} of {len(found)} sentences from {len(pages)} pages -> {out}")


if __name__ == "__main__":
    main()
