#!/usr/bin/env python3
"""Builds the recogniser's evaluation sets of real interface text from Debian message catalogues.

Usage: make_interface_set.py [--cache DIR] [--set main|held-out|fresh|fresh-held-out]
                             [--kind phrases|words] [OUT]

Hosts mostly send what a person selected in a program: a word, a name, a short interface string.
Message catalogues hold exactly such strings, English (msgid) beside their translations (msgstr).
The packages below are fetched with `apt-get download` into DIR (default /tmp/talvori-catalogues)
and unpacked there with `dpkg -x`; nothing is installed. The main and held-out sets read disjoint
package lists, so that rules tuned on one are measured on the other; a string also in the main
set is left out of the held-out set, which therefore needs the main set first. The fresh and
fresh held-out sets read two more disjoint lists of other programs, with more strings per
language (1,000 short and 1,000 long for es, fr, de and en), and leave out every string of the
sets before them (main, held-out, then fresh), which they therefore need first.

phrases (interface_set.tsv, interface_held_out_set.tsv): translations into es, fr, de and the close
relatives ca, gl, pt, it, nl, and English msgids, as short (5 to 19 code points) and long
(20 to 200) texts.
words (words_set.tsv, words_held_out_set.tsv): English msgids of one word or a two-word name
("Page title"), and single words of the translations into the main languages and the control
set's languages.

A translation equal to its msgid (ignoring case) is left out: it is an untranslated string or a
name, and says nothing of its language. English words and names are kept only when their Spanish
translation differs from them, which drops brand and product names ("GNOME", "Bluetooth").
Strings are cleaned of accelerator marks ("_Open", "&File") and trailing ellipses and colons,
and strings with format directives, markup or code are dropped. Draws use a fixed seed, so a
rerun on the same package versions writes the same file.
"""

import gettext
import glob
import os
import random
import re
import subprocess
import sys
import unicodedata

MAIN_PACKAGES = [
    "libgtk-3-common", "nautilus-data", "gnome-control-center-data", "gedit-common",
    "thunar-data", "transmission-common", "baobab", "synaptic", "gparted",
    "coreutils", "tar", "grep", "apt", "dpkg", "e2fsprogs",
]
HELD_OUT_PACKAGES = [
    "libgtk-4-common", "evince-common", "gnome-software-common", "vlc-l10n", "mousepad",
    "gnome-text-editor", "file-roller", "xfce4-settings", "pavucontrol",
    "findutils", "sed", "bash", "systemd", "util-linux-locales", "parted",
]
# label -> catalogue locales
FRESH_PACKAGES = [
    "gimp-data", "evolution-common", "gnome-shell-common", "rhythmbox-data", "geany-common",
    "gnumeric-common", "gnome-disk-utility", "eog", "simple-scan", "xfce4-panel",
    "gnome-terminal-data", "gnome-calculator",
]
FRESH_HELD_OUT_PACKAGES = [
    "inkscape", "pidgin-data", "filezilla-common", "shotwell-common", "totem-common",
    "cheese-common", "gnome-system-monitor", "gnome-maps", "network-manager-gnome",
    "xfce4-terminal", "ristretto", "lightdm-gtk-greeter",
]
PACKAGES = {"main": MAIN_PACKAGES, "held-out": HELD_OUT_PACKAGES, "fresh": FRESH_PACKAGES,
            "fresh-held-out": FRESH_HELD_OUT_PACKAGES}
SET_ORDER = ["main", "held-out", "fresh", "fresh-held-out"]
SET_SUFFIX = {"main": "_set.tsv", "held-out": "_held_out_set.tsv", "fresh": "_fresh_set.tsv",
              "fresh-held-out": "_fresh_held_out_set.tsv"}
PHRASE_LOCALES = {
    "es": ["es"], "fr": ["fr"], "de": ["de"],
    "ca": ["ca"], "gl": ["gl"], "pt": ["pt", "pt_BR"], "it": ["it"], "nl": ["nl"],
}
WORD_LOCALES = dict(PHRASE_LOCALES, **{
    "da": ["da"], "sv": ["sv"], "no": ["nb"], "ro": ["ro"], "id": ["id"], "pl": ["pl"],
    "cs": ["cs"], "fi": ["fi"], "hu": ["hu"], "tr": ["tr"], "vi": ["vi"],
})
PHRASES_PER_BUCKET = {"es": 600, "fr": 600, "de": 600, "en": 600}
FRESH_PHRASES_PER_BUCKET = 1000
RELATIVE_PHRASES_PER_BUCKET = 300
ENGLISH_WORDS = 800
WORDS_PER_LANGUAGE = 200
LONG_MAX_CHARS = 200
SEED = 20261207

CODE = re.compile(r"[%{}\[\]<>=|\\/$#@*`~^;\"]|--|\$|\bhttps?:|\w\.\w|\w_\w|::|\\n")
WORD = r"[^\W\d_]+(?:[-'’][^\W\d_]+)*"
ONE_OR_TWO_WORDS = re.compile(rf"^{WORD}(?: {WORD})?$")
ONE_WORD = re.compile(rf"^{WORD}$")


def fetch(packages, cache):
    """Unpacks each package into cache/root, downloading it first if it is not there."""
    debs = os.path.join(cache, "debs")
    root = os.path.join(cache, "root")
    os.makedirs(debs, exist_ok=True)
    os.makedirs(root, exist_ok=True)
    for package in packages:
        if not glob.glob(os.path.join(debs, f"{package}_*.deb")):
            subprocess.run(["apt-get", "download", "-qq", package], cwd=debs, check=True)
        deb = sorted(glob.glob(os.path.join(debs, f"{package}_*.deb")))[-1]
        subprocess.run(["dpkg", "-x", deb, os.path.join(root, package)], check=True)
        print(f"using {os.path.basename(deb)}", file=sys.stderr)
    return root


def clean(text):
    text = text.replace("_", "").replace("&", "")
    text = re.sub(r"(\.\.\.|…|:)\s*$", "", text.strip())
    return " ".join(text.split())


def pairs(root, package, locale):
    """(msgid, msgstr) of every singular entry in the package's catalogues for `locale`."""
    out = []
    pattern = os.path.join(root, package, "usr/share/locale", locale, "LC_MESSAGES", "*.mo")
    for path in sorted(glob.glob(pattern)):
        with open(path, "rb") as f:
            try:
                catalogue = gettext.GNUTranslations(f)._catalog
            except (OSError, UnicodeDecodeError):
                continue
        for key, value in catalogue.items():
            if not isinstance(key, str) or not key or not isinstance(value, str) or not value:
                continue
            msgid = key.split("\x04")[-1]  # drop the context
            if CODE.search(msgid) or CODE.search(value) or "\n" in msgid or "\n" in value:
                continue
            out.append((clean(msgid), clean(value)))
    return out


def latin_prose(text):
    letters = [c for c in text if c.isalpha()]
    visible = [c for c in text if not c.isspace()]
    if not letters or len(letters) < 0.7 * len(visible):
        return False
    return all(c.isascii() or "LATIN" in unicodedata.name(c, "") for c in letters)


def draw(texts, n, rng, exclude):
    texts = sorted(set(texts) - exclude)
    rng.shuffle(texts)
    return sorted(texts[:n])


def build(which, kind, cache, exclude):
    packages = PACKAGES[which]
    root = fetch(packages, cache)
    rng = random.Random(f"{SEED}-{which}-{kind}")
    locales = PHRASE_LOCALES if kind == "phrases" else WORD_LOCALES
    translations = {label: [] for label in locales}
    english = []
    for package in packages:
        for label, names in locales.items():
            for locale in names:
                for msgid, msgstr in pairs(root, package, locale):
                    if msgid.lower() == msgstr.lower() or not latin_prose(msgstr):
                        continue
                    translations[label].append(msgstr)
                    if label == "es" and latin_prose(msgid) and all(c.isascii() for c in msgid):
                        english.append(msgid)
    rows = []
    if kind == "phrases":
        for label in ["en"] + list(locales):
            texts = english if label == "en" else translations[label]
            n = PHRASES_PER_BUCKET.get(label, RELATIVE_PHRASES_PER_BUCKET)
            if which.startswith("fresh") and label in PHRASES_PER_BUCKET:
                n = FRESH_PHRASES_PER_BUCKET
            short = [t for t in texts if 5 <= len(t) < 20 and " " in t]
            long = [t for t in texts if 20 <= len(t) <= LONG_MAX_CHARS]
            rows += [(label, t) for t in draw(long, n, rng, exclude) + draw(short, n, rng, exclude)]
    else:
        words = [t for t in english if ONE_OR_TWO_WORDS.match(t)]
        rows += [("en", t) for t in draw(words, ENGLISH_WORDS, rng, exclude)]
        for label in locales:
            single = [t for t in translations[label] if ONE_WORD.match(t) and len(t) >= 2]
            rows += [(label, t) for t in draw(single, WORDS_PER_LANGUAGE, rng, exclude)]
    return rows


def main():
    args = sys.argv[1:]
    options = {"--cache": "/tmp/talvori-catalogues", "--set": "main", "--kind": "phrases"}
    while len(args) >= 2 and args[0] in options:
        options[args[0]], args = args[1], args[2:]
    which, kind = options["--set"], options["--kind"]
    if which not in PACKAGES or kind not in ("phrases", "words"):
        sys.exit(__doc__)
    name = {"phrases": "interface", "words": "words"}[kind]
    here = os.path.dirname(os.path.abspath(__file__))
    out = args[0] if args else os.path.join(here, name + SET_SUFFIX[which])
    exclude = set()
    for earlier in SET_ORDER[:SET_ORDER.index(which)]:  # strings of earlier sets count for them
        with open(os.path.join(here, name + SET_SUFFIX[earlier]), encoding="utf-8") as f:
            exclude |= {line.rstrip("\n").split("\t", 1)[1] for line in f}
    rows = build(which, kind, options["--cache"], exclude)
    with open(out, "w", encoding="utf-8") as f:
        for label, text in rows:
            f.write(f"{label}\t{text}\n")
    print(f"wrote {len(rows)} texts to {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
