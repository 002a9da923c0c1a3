#!/usr/bin/env python3
"""Builds the dictionary's evaluation sets from human translations installed by Debian packages.

Usage: make_eval_set.py [OUT_DIR]

Each set pairs English words and names with their Chinese translations, taken from the zh_CN and zh_TW message catalogs under /usr/share/locale:
ISO code names from iso-codes (countries, languages, currencies, scripts, subdivisions) and the
user-interface strings of installed programs. Names (ISO catalogs) may have up to four words;
from the other catalogs only single words (and Chinese of at most four characters) are kept.
None of it comes from CC-CEDICT.

dev_set.tsv is what the dictionary's rules were tuned on: country and language names, and the
catalogs of desktop libraries (GTK, GLib, PackageKit, ...). held_out_set.tsv comes from other
catalogs only (currencies, scripts, one in eight subdivisions, and command-line tools: coreutils, apt, dpkg,
git, ...), and leaves out every English or Chinese text that the dev set holds.

Each line: direction (en>zh-Hans, zh-Hans>en or zh-Hant>en), the text, the accepted answers
joined by "|" (every translation the catalogs give for the text), and the catalogs it came from.
Rerunning on the same packages writes the same files.
"""

import gettext
import os
import re
import sys
import zlib

LOCALE = "/usr/share/locale"

DEV = [
    "iso_3166-1", "iso_639-2", "gtk20", "gtk20-properties", "glib20", "gdk-pixbuf",
    "at-spi2-core", "gsettings-desktop-schemas", "gstreamer-1.0", "PackageKit", "appstream",
    "avahi", "xdg-user-dirs", "shared-mime-info", "xkeyboard-config",
]
HELD_OUT = [
    "iso_4217", "iso_15924", "iso_3166-2", "iso_3166-3", "iso_639-3", "coreutils", "apt", "dpkg",
    "bash", "grep", "sed", "tar", "findutils", "diffutils", "gawk", "make", "git", "gnupg2", "libc",
    "binutils", "bfd", "ld", "gas", "gold", "opcodes", "man-db", "wget", "systemd", "polkit-1",
    "Linux-PAM", "adduser", "shadow", "psmisc", "procps-ng", "python-apt", "software-properties",
    "gettext-runtime", "gettext-tools", "gnutls30", "libidn2", "xz", "libapt-pkg6.0", "sed",
]

# Names (ISO catalogs) may have up to four words; from other catalogs only single words are kept,
# since their longer strings are phrases and sentences made for one program, not set phrases.
NAME = re.compile(r"^[A-Za-z][A-Za-z'\-]*( [A-Za-z][A-Za-z'\-]*){0,3}$")
WORD = re.compile(r"^[A-Za-z][a-z'\-]*$|^[A-Z]+$")
CHINESE_NAME = re.compile(r"^[\u3400-\u4dbf\u4e00-\u9fff·]{1,12}$")
CHINESE_WORD = re.compile(r"^[\u3400-\u4dbf\u4e00-\u9fff]{1,4}$")


def clean_english(text, names):
    text = text.split("\x04")[-1]  # drop a message context
    text = text.replace("_", "").replace("&", "")
    text = re.sub(r"(\.\.\.|…|:)$", "", text.strip()).strip()
    return text if (NAME if names else WORD).match(text) else None


def clean_chinese(text, names):
    text = re.sub(r"[(（]_?[A-Za-z][)）]", "", text)  # access keys such as "(_O)"
    text = text.replace("_", "")
    text = re.sub(r"(\.\.\.|…|：|:)$", "", text.strip()).strip()
    return text if (CHINESE_NAME if names else CHINESE_WORD).match(text) else None


def pairs(domain, locale):
    path = os.path.join(LOCALE, locale, "LC_MESSAGES", domain + ".mo")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as file:
        catalog = gettext.GNUTranslations(file)._catalog
    found = []
    for msgid, msgstr in catalog.items():
        if not isinstance(msgid, str) or not msgid or not isinstance(msgstr, str):
            continue
        names = domain.startswith("iso_")
        english, chinese = clean_english(msgid, names), clean_chinese(msgstr, names)
        # Subdivisions outnumber every other source; one in eight (fixed by a hash of the
        # English) keeps them from swamping the set.
        if domain == "iso_3166-2" and english and zlib.crc32(english.encode()) % 8 != 0:
            continue
        if english and chinese:
            found.append((english, chinese))
    return found


def collect(domains):
    """direction -> text -> (set of answers, set of domains)"""
    sets = {"en>zh-Hans": {}, "zh-Hans>en": {}, "zh-Hant>en": {}}
    for domain in domains:
        for locale, chinese_direction in (("zh_CN", "zh-Hans>en"), ("zh_TW", "zh-Hant>en")):
            for english, chinese in pairs(domain, locale):
                if locale == "zh_CN":
                    answers, sources = sets["en>zh-Hans"].setdefault(english, (set(), set()))
                    answers.add(chinese)
                    sources.add(domain)
                answers, sources = sets[chinese_direction].setdefault(chinese, (set(), set()))
                answers.add(english)
                sources.add(domain)
    return sets


def write(path, sets, leave_out=None):
    count = 0
    with open(path, "w", encoding="utf-8") as out:
        for direction, items in sets.items():
            for text in sorted(items):
                if leave_out and text.lower() in leave_out:
                    continue
                answers, sources = items[text]
                out.write(f"{direction}\t{text}\t{'|'.join(sorted(answers))}\t"
                          f"{','.join(sorted(sources))}\n")
                count += 1
    print(f"{path}: {count} items")


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    dev = collect(DEV)
    write(os.path.join(out_dir, "dev_set.tsv"), dev)
    seen = set()
    for items in dev.values():
        for text, (answers, _) in items.items():
            seen.add(text.lower())
            seen.update(answer.lower() for answer in answers)
    write(os.path.join(out_dir, "held_out_set.tsv"), collect(HELD_OUT), seen)


if __name__ == "__main__":
    main()
