#!/usr/bin/env python3
"""Builds the recogniser's labelled evaluation sets from the installed translated manual pages.

Usage: make_eval_set.py [--set main|held-out|control] [OUT]

main (eval_set.tsv) is the set the recogniser is measured on. held-out (held_out_set.tsv) draws
the same languages from other pages: those of each package that main does not read, and of its
-dev package; texts also in main are left out. control (control_set.tsv) holds other Latin-script
languages, which the recogniser must not call en, es, fr or de. Each is written beside this script
unless OUT is given. Pages come
from the Debian packages that scripts/install-bench-deps installs; each is rendered by man(1) with
very wide lines, so that every paragraph is one line, then split into sentences. Sentences that
are code, options or untranslated English are dropped (see keep()). From what is left, a fixed
number of long texts (20 characters or more) and of short phrases (5 to 19 characters, cut on word
or clause boundaries out of kept sentences) is drawn per language with a fixed seed, so a rerun on
the same packages writes the same file.
"""

import concurrent.futures
import os
import random
import re
import subprocess
import sys
import unicodedata

# label -> (package, path fragment that selects its pages)
SOURCES = {
    "en": ("manpages", "/usr/share/man/man"),
    "es": ("manpages-es", "/usr/share/man/es/"),
    "de": ("manpages-de", "/usr/share/man/de/"),
    "fr": ("manpages-fr", "/usr/share/man/fr/"),
    "zh-Hans": ("manpages-zh", "/usr/share/man/zh_CN/"),
    "zh-Hant": ("manpages-zh", "/usr/share/man/zh_TW/"),
    "ja": ("manpages-ja", "/usr/share/man/ja/"),
}
# Held-out pages also come from these packages.
DEV_PACKAGES = {
    "manpages": "manpages-dev",
    "manpages-es": "manpages-es-dev",
    "manpages-de": "manpages-de-dev",
    "manpages-fr": "manpages-fr-dev",
    "manpages-ja": "manpages-ja-dev",
}
# Other languages, labelled with the code the recogniser answers for them. A package name gives
# its man pages; "locale:" gives the message catalogs installed for that locale (Catalan and
# Galician have no man pages in Debian).
CONTROL_SOURCES = {
    "pt": ("manpages-pt-br", "/usr/share/man/pt_BR/"),
    "it": ("manpages-it", "/usr/share/man/it/"),
    "nl": ("manpages-nl", "/usr/share/man/nl/"),
    "da": ("manpages-da", "/usr/share/man/da/"),
    "sv": ("manpages-sv", "/usr/share/man/sv/"),
    "no": ("manpages-nb", "/usr/share/man/nb/"),
    "ro": ("manpages-ro", "/usr/share/man/ro/"),
    "id": ("manpages-id", "/usr/share/man/id/"),
    "pl": ("manpages-pl", "/usr/share/man/pl/"),
    "cs": ("manpages-cs", "/usr/share/man/cs/"),
    "fi": ("manpages-fi", "/usr/share/man/fi/"),
    "hu": ("manpages-hu", "/usr/share/man/hu/"),
    "tr": ("manpages-tr", "/usr/share/man/tr/"),
    "vi": ("manpages-vi", "/usr/share/man/vi/"),
    "ca": ("locale:ca", None),
    "gl": ("locale:gl", None),
}
# Words that mark a control text as untranslated English; none of them is a word of a control
# language.
ENGLISH_ONLY = set("the and with that this from which you your".split())
PAGES_PER_LANGUAGE = 300  # spread evenly over each package's sorted list of pages
SAMPLES_PER_BUCKET = 600
CONTROL_SAMPLES_PER_BUCKET = 300
LONG_MAX_CHARS = 200
SEED = 20261206

# Words that mark a Latin-script sentence as written in a language. A sentence is kept for its
# label when it has more of its own language's markers than of any other's.
STOPWORDS = {
    "en": "the and of to is are be for with that this from by not or which an it can if".split(),
    "es": "el la los las de del que en por para con una un es se no su al como o más".split(),
    "de": "der die das und ist nicht mit von den dem ein eine zu wird auf für sich wenn oder".split(),
    "fr": "le la les de des du et est un une pour dans en que qui pas sur par au ou être".split(),
}
ACCENTS = {"es": "áéíóúñü¿¡", "de": "äöüß", "fr": "àâçéèêëîïôûùœ"}
CJK = ("zh-Hans", "zh-Hant", "ja")
CODE_CHARS = re.compile(r"[{}\[\]<>=|\\/$#@_*`~^;]|--|\b\w+\(\d?\)|\.\w{1,4}\b|::")


def package_pages(package, fragment):
    listing = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True, check=True)
    return sorted(
        f for f in listing.stdout.split("\n")
        if fragment in f and re.search(r"/man\d[^/]*/[^/]+\.\d\w*(\.gz)?$", f)
        and os.path.isfile(f) and not os.path.islink(f))


def spread(files):
    step = max(1, len(files) // PAGES_PER_LANGUAGE)
    return files[::step][:PAGES_PER_LANGUAGE]


def pages(label, which="main"):
    if which == "control":
        package, fragment = CONTROL_SOURCES[label]
        return spread(package_pages(package, fragment))
    package, fragment = SOURCES[label]
    main = spread(package_pages(package, fragment))
    if which == "main":
        return main
    others = [f for f in package_pages(package, fragment) if f not in set(main)]
    if package in DEV_PACKAGES:
        others += package_pages(DEV_PACKAGES[package], fragment)
    return spread(sorted(others))


def catalog_texts(locale):
    """The translations in the message catalogs installed for `locale`, one per line."""
    import gettext
    directory = f"/usr/share/locale/{locale}/LC_MESSAGES"
    lines = []
    for name in sorted(os.listdir(directory)):
        if not name.endswith(".mo"):
            continue
        with open(os.path.join(directory, name), "rb") as f:
            try:
                catalog = gettext.GNUTranslations(f)._catalog
            except (OSError, UnicodeDecodeError):
                continue
        for key, value in catalog.items():
            if key and isinstance(value, str) and not re.search(r"[%&]", value):
                lines.append(value)
    return "\n".join(lines)


def render(path):
    env = dict(os.environ, MANWIDTH="4000", LC_ALL="C.UTF-8")
    env.pop("MAN_KEEP_FORMATTING", None)
    result = subprocess.run(["man", "-l", "-E", "UTF-8", "--nh", "--nj", path],
                            capture_output=True, env=env)
    text = result.stdout.decode("utf-8", errors="replace")
    return re.sub(".\b", "", text)


def sentences(page, label):
    out = []
    for line in page.split("\n"):
        line = " ".join(line.split())
        if not line or line.isupper():  # blank lines and section headings
            continue
        if label in CJK:
            parts = re.split(r"(?<=[。！？])", line)
        else:
            parts = re.split(r"(?<=[.!?])\s+(?=[A-ZÁÉÍÓÚÑÄÖÜÀÂÇÈÊÎÔ¿¡])", line)
        out.extend(p.strip() for p in parts if p.strip())
    return out


def has_kana(text):
    return any("\u3040" <= c <= "\u30ff" or "\uff66" <= c <= "\uff9f" for c in text)


def is_cjk(c):
    return ("\u2e80" <= c <= "\u9fff" or "\uf900" <= c <= "\ufaff" or "\uff66" <= c <= "\uff9f"
            or "\U00020000" <= c <= "\U0003ffff")


def markers(text, label):
    words = re.findall(r"[^\W\d_]+", text.lower())
    count = sum(w in STOPWORDS[label] for w in words)
    return count + sum(c in ACCENTS.get(label, "") for c in text.lower())


def keep_control(text):
    """Whether `text` is plain prose, and not untranslated English, in a control language."""
    if CODE_CHARS.search(text):
        return False
    letters = [c for c in text if c.isalpha()]
    visible = [c for c in text if not c.isspace()]
    if len(letters) < 0.7 * len(visible):
        return False
    if any(not (c.isascii() or unicodedata.name(c, "").startswith("LATIN")) for c in letters):
        return False
    return not any(w in ENGLISH_ONLY for w in re.findall(r"[^\W\d_]+", text.lower()))


def keep(text, label):
    """Whether `text` is plain prose in the language it is labelled with."""
    if CODE_CHARS.search(text):  # code, options, paths, file names, references to other pages
        return False
    letters = [c for c in text if c.isalpha()]
    visible = [c for c in text if not c.isspace()]
    if len(letters) < 0.7 * len(visible):  # mostly digits, punctuation or symbols
        return False
    if label in CJK:
        cjk = sum(is_cjk(c) for c in letters)
        if cjk < 0.8 * len(letters):  # untranslated words
            return False
        return has_kana(text) if label == "ja" else not has_kana(text)
    if any(not (c.isascii() or unicodedata.name(c, "").startswith("LATIN")) for c in letters):
        return False
    own = markers(text, label)
    others = max(markers(text, other) for other in STOPWORDS if other != label)
    if label == "en" and any(not c.isascii() for c in letters):
        return False
    return own >= 1 and own > others


def short_phrases(sentence, label, rng):
    """Phrases of 5 to 19 characters cut from `sentence` on word (or, in CJK, clause) edges."""
    if label in CJK:
        clauses = [c.strip() for c in re.split(r"[，、。！？：；（）「」 ]", sentence) if c.strip()]
        out = [c for c in clauses if 5 <= len(c) < 20]
        long_clauses = [c for c in clauses if len(c) >= 20]
        for c in long_clauses:
            n = rng.randint(5, 19)
            start = rng.randint(0, len(c) - n)
            out.append(c[start:start + n])
        return out
    words = sentence.rstrip(".!?:;,").split()
    out = []
    for start in range(0, len(words), 4):
        phrase = ""
        for w in words[start:]:
            candidate = (phrase + " " + w).strip()
            if len(candidate) >= 20:
                break
            phrase = candidate
        if 5 <= len(phrase) < 20:
            out.append(phrase.strip(",;:()\"'"))
    return out


def collect(label, which="main", exclude=frozenset()):
    rng = random.Random(f"{SEED}-{which}-{label}" if which != "main" else f"{SEED}-{label}")
    control = which == "control"
    accept = keep_control if control else (lambda text: keep(text, label))
    samples = CONTROL_SAMPLES_PER_BUCKET if control else SAMPLES_PER_BUCKET
    if control and CONTROL_SOURCES[label][0].startswith("locale:"):
        documents = [catalog_texts(CONTROL_SOURCES[label][0].split(":")[1])]
    else:
        documents = (render(path) for path in pages(label, which))
    longs, shorts = [], []
    seen = set(exclude)
    for document in documents:
        for s in sentences(document, label):
            if s in seen or not accept(s):
                continue
            seen.add(s)
            if 20 <= len(s) <= LONG_MAX_CHARS:
                longs.append(s)
            for p in short_phrases(s, label, rng):
                if 5 <= len(p) < 20 and p not in seen and accept(p):
                    seen.add(p)
                    shorts.append(p)
    rng.shuffle(longs)
    rng.shuffle(shorts)
    if len(longs) < samples or len(shorts) < samples:
        print(f"{label}: only {len(longs)} long and {len(shorts)} short texts", file=sys.stderr)
    return sorted(longs[:samples]) + sorted(shorts[:samples])


def main():
    args = sys.argv[1:]
    which = "main"
    if len(args) >= 2 and args[0] == "--set":
        which, args = args[1], args[2:]
    names = {"main": "eval_set.tsv", "held-out": "held_out_set.tsv", "control": "control_set.tsv"}
    if which not in names:
        sys.exit(__doc__)
    here = os.path.dirname(os.path.abspath(__file__))
    out = args[0] if args else os.path.join(here, names[which])
    labels = list(CONTROL_SOURCES if which == "control" else SOURCES)
    exclude = frozenset()
    if which == "held-out":
        with open(os.path.join(here, names["main"]), encoding="utf-8") as f:
            exclude = frozenset(line.rstrip("\n").split("\t", 1)[1] for line in f)
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = dict(zip(labels, pool.map(lambda l: collect(l, which, exclude), labels)))
    with open(out, "w", encoding="utf-8") as f:
        for label in labels:
            for text in results[label]:
                f.write(f"{label}\t{text}\n")
    print(f"wrote {sum(len(v) for v in results.values())} texts to {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
