#!/usr/bin/env python3
"""Builds the dictionary's evaluation sets from human translations shipped by Debian packages.

Usage: make_eval_set.py [--cache DIR] [OUT_DIR]

Hosts mostly send a word or a name that a user selected in a program. The sets hold both, from
translations made by people and none of them from CC-CEDICT:

  - single words of user interfaces: the English msgids of one word (a word of Debian's
    wamerican-small list, so program jargon such as "stdin" or "Activatable" stays out) with
    their zh_CN and zh_TW msgstr of one to four Han characters, from the message catalogues of
    many programs;
  - names: countries, major languages (those with a two-letter code), currencies, one script in
    four and one subdivision in forty from iso-codes, and from CLDR's Chinese locale data the
    same kinds of names plus cities (one in two of the example cities of time zones), months and weekdays.

dev_set.tsv, on which the rules are tuned, takes the words of DEV_PACKAGES; held_out_set.tsv,
never tuned on, those of HELD_OUT_PACKAGES, a disjoint list. Names are split between the two by
a hash of their English, so that both sets hold countries, languages, currencies and cities.
A held-out text that the dev set holds in either language is left out.

A second pair, fresh_dev_set.tsv (tuned on) and fresh_held_out_set.tsv (only measured on), takes
its words from the catalogues of FRESH_DEV_PACKAGES and FRESH_HELD_OUT_PACKAGES, which the first
pair does not use, and its names from libgweather's list of places (countries, states and one
city in four, split between the two by a hash). Each leaves out every text of the sets before it.

The packages are fetched with `apt-get download` into DIR (default /tmp/talvori-catalogues) and
unpacked there with `dpkg -x`; nothing is installed.

Each line: direction (en>zh-Hans, zh-Hans>en or zh-Hant>en), the text, the accepted answers
joined by "|" (every translation any source of the set gives for the text), the kind (word or
name), the sources, and for texts into English the WordNet synonyms of the accepted answers
joined by "|" (see synonyms()), which the benchmark's second, fairer count also accepts.
Rerunning on the same package versions writes the same files.
"""

import gettext
import json
import glob
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
import zlib

DEV_PACKAGES = [
    "libgtk-3-common", "libglib2.0-data", "nautilus-data", "gnome-control-center-data",
    "gedit-common", "thunar-data", "transmission-common", "baobab", "synaptic", "gparted",
    "gnome-calculator", "gnome-system-monitor", "eog", "gnome-disk-utility", "totem-common",
    "rhythmbox-data", "gnome-terminal-data", "coreutils", "tar", "grep", "apt", "dpkg",
    "e2fsprogs",
]
HELD_OUT_PACKAGES = [
    "libgtk-4-common", "evince-common", "gnome-software-common", "vlc-l10n", "mousepad",
    "gnome-text-editor", "file-roller", "xfce4-settings", "pavucontrol", "gnome-maps",
    "gnome-calendar", "gnome-clocks", "shotwell-common", "ristretto", "xfce4-terminal",
    "xfce4-panel", "gnome-shell-common", "findutils", "sed", "bash", "systemd",
    "util-linux-locales", "parted",
]
# A second pair of sets from catalogues and a name list that the first pair does not use: the
# words of FRESH_DEV_PACKAGES and FRESH_HELD_OUT_PACKAGES, and the places of libgweather's list.
FRESH_DEV_PACKAGES = [
    "gramps", "darktable", "homebank-data", "bluefish-data", "sylpheed-i18n",
    "epiphany-browser-data", "network-manager", "brasero-common", "blueman", "gnote", "aisleriot",
    "gitg", "ghex", "dconf-editor", "gnome-boxes", "gnome-tweaks", "gnome-logs", "gnome-chess",
    "xfce4-power-manager-data", "xfce4-session", "catfish", "xfburn", "celluloid", "gnome-music",
    "gnome-dictionary",
]
FRESH_HELD_OUT_PACKAGES = [
    "gnucash-common", "dia-common", "hugin-data", "system-config-printer-common",
    "evolution-data-server-common", "poedit-common", "galculator", "parole", "sound-juicer",
    "gtranslator", "liferea-data", "gnome-contacts", "gnome-nettool", "gnome-color-manager",
    "gnome-power-manager", "gnome-bluetooth-3-common", "gnome-font-viewer", "polari",
    "xfce4-appfinder", "xfce4-screenshooter", "xfce4-notifyd", "xfce4-taskmanager", "gucharmap",
    "zenity-common", "gnome-characters", "gnome-sound-recorder", "gnome-weather", "gnome-sudoku",
    "gnome-mines", "gnome-keyring", "gnome-console", "gnome-initial-setup",
    "gnome-settings-daemon-common", "gvfs-common", "gnome-screenshot", "lollypop",
    "grisbi-common", "xsane-common", "xournalpp",
]
DATA_PACKAGES = ["iso-codes", "unicode-cldr-core", "wamerican-small", "wordnet-base",
                 "libgweather-4-common"]

WORD = re.compile(r"^[A-Za-z][a-z]*(-[a-z]+)?$|^[A-Z]+$")
NAME = re.compile(r"^[A-Z][A-Za-z'\-.]*( [A-Za-z][A-Za-z'\-.]*){0,3}$")
CHINESE_WORD = re.compile(r"^[\u3400-\u4dbf\u4e00-\u9fff]{1,4}$")
CHINESE_NAME = re.compile(r"^[\u3400-\u4dbf\u4e00-\u9fff·]{1,12}$")
LOCALES = (("zh_CN", "zh-Hans>en"), ("zh_TW", "zh-Hant>en"))


def fetch(packages, cache):
    """Unpacks each package into cache/root/PACKAGE, downloading it first if it is not there."""
    debs, root = os.path.join(cache, "debs"), os.path.join(cache, "root")
    os.makedirs(debs, exist_ok=True)
    for package in packages:
        target = os.path.join(root, package)
        if os.path.isdir(target):
            continue
        if not glob.glob(os.path.join(debs, f"{package}_*.deb")):
            subprocess.run(["apt-get", "download", "-qq", package], cwd=debs, check=True)
        deb = sorted(glob.glob(os.path.join(debs, f"{package}_*.deb")))[-1]
        subprocess.run(["dpkg", "-x", deb, target], check=True)
    return root


def clean_english(text):
    text = text.split("\x04")[-1].replace("_", "").replace("&", "")
    return re.sub(r"(\.\.\.|…|:)$", "", text.strip()).strip()


def clean_chinese(text):
    text = re.sub(r"[(（]_?[A-Za-z][)）]", "", text).replace("_", "")
    return re.sub(r"(\.\.\.|…|：|:)$", "", text.strip()).strip()


def catalogue(path):
    with open(path, "rb") as file:
        try:
            return gettext.GNUTranslations(file)._catalog
        except (OSError, UnicodeDecodeError):
            return {}


def word_pairs(root, package, locale, common):
    """(English word, Chinese) of a package's catalogues for `locale`."""
    out = []
    for path in sorted(glob.glob(os.path.join(
            root, package, "usr/share/locale", locale, "LC_MESSAGES", "*.mo"))):
        for msgid, msgstr in catalogue(path).items():
            if not isinstance(msgid, str) or not isinstance(msgstr, str) or not msgstr:
                continue
            english, chinese = clean_english(msgid), clean_chinese(msgstr)
            if WORD.match(english) and english.lower() in common and CHINESE_WORD.match(chinese):
                out.append((english, chinese))
    return out


def iso_names(root):
    """(domain, English, Chinese by locale) of the ISO names kept."""
    base = os.path.join(root, "iso-codes", "usr/share")

    out = []
    kept = {
        "iso_3166-1": lambda entry, name: True,
        "iso_639-2": lambda entry, name: "alpha_2" in entry,
        "iso_4217": lambda entry, name: True,
        "iso_15924": lambda entry, name: zlib.crc32(name.encode()) % 4 == 0,
        "iso_3166-2": lambda entry, name: zlib.crc32(name.encode()) % 40 == 0,
    }
    for domain, keep in kept.items():
        with open(os.path.join(base, "iso-codes/json", domain + ".json"), encoding="utf-8") as f:
            entries = json.load(f)[domain[4:]]
        translations = {
            locale: catalogue(os.path.join(base, "locale", locale, "LC_MESSAGES", domain + ".mo"))
            for locale, _ in LOCALES}
        for entry in entries:
            name = entry["name"]
            if not keep(entry, name):
                continue
            out.append((domain, name, {locale: t.get(name) for locale, t in translations.items()}))
    return out


def cldr_names(root):
    """(kind, English, Chinese by locale) from CLDR: territories, languages, scripts,
    currencies, one city in two, months and weekdays."""
    main = os.path.join(root, "unicode-cldr-core", "usr/share/unicode/cldr/common/main")
    trees = {name: ElementTree.parse(os.path.join(main, name + ".xml"))
             for name in ("en", "zh", "zh_Hant")}

    def display(tree, path, draft_ok=False):
        out = {}
        for element in tree.iterfind(path):
            if element.get("alt") or (element.get("draft") and not draft_ok):
                continue
            out[element.get("type")] = element.text
        return out

    def months(tree, kind):
        path = (f"dates/calendars/calendar[@type='gregorian']/{kind}s/{kind}Context"
                f"[@type='format']/{kind}Width[@type='wide']/{kind}")
        return display(tree, path)

    out = []
    tables = {
        "cldr-territories": "localeDisplayNames/territories/territory",
        "cldr-languages": "localeDisplayNames/languages/language",
        "cldr-scripts": "localeDisplayNames/scripts/script",
    }
    for source, path in tables.items():
        english = display(trees["en"], path)
        chinese = {locale: display(trees[name], path) for locale, name in
                   (("zh_CN", "zh"), ("zh_TW", "zh_Hant"))}
        for code, name in english.items():
            if source == "cldr-territories" and not code.isalpha():
                continue  # continents and other regions
            if source == "cldr-languages" and len(code) != 2:
                continue
            if source == "cldr-scripts" and zlib.crc32(name.encode()) % 4 != 0:
                continue
            out.append((source, name, {locale: c.get(code) for locale, c in chinese.items()}))
    path = "numbers/currencies/currency/displayName"
    for tree_name in ("en",):
        english = {}
        for currency in trees[tree_name].iterfind("numbers/currencies/currency"):
            for element in currency.iterfind("displayName"):
                if not element.get("count") and not element.get("alt"):
                    english[currency.get("type")] = element.text
    chinese = {}
    for locale, name in (("zh_CN", "zh"), ("zh_TW", "zh_Hant")):
        chinese[locale] = {}
        for currency in trees[name].iterfind("numbers/currencies/currency"):
            for element in currency.iterfind("displayName"):
                if not element.get("count") and not element.get("alt"):
                    chinese[locale][currency.get("type")] = element.text
    for code, name in english.items():
        out.append(("cldr-currencies", name, {l: c.get(code) for l, c in chinese.items()}))
    # Cities: each time zone's example city; English names come from the zone's identifier
    # unless en.xml gives one.
    english_cities = {}
    for zone in trees["en"].iterfind("dates/timeZoneNames/zone"):
        city = zone.find("exemplarCity")
        if city is not None and not city.get("alt"):
            english_cities[zone.get("type")] = city.text
    for locale, name in (("zh_CN", "zh"), ("zh_TW", "zh_Hant")):
        for zone in trees[name].iterfind("dates/timeZoneNames/zone"):
            city = zone.find("exemplarCity")
            if city is None or city.get("alt") or zone.get("type").startswith("Etc/"):
                continue
            if zlib.crc32(zone.get("type").encode()) % 2 != 0:
                continue  # one city in two: they would outnumber every other kind of name
            english = english_cities.get(zone.get("type"),
                                         zone.get("type").split("/")[-1].replace("_", " "))
            out.append(("cldr-cities", english, {locale: city.text}))
    for kind in ("month", "day"):
        english = months(trees["en"], kind)
        chinese = {locale: months(trees[name], kind) for locale, name in
                   (("zh_CN", "zh"), ("zh_TW", "zh_Hant"))}
        for code, name in english.items():
            out.append(("cldr-dates", name, {l: c.get(code) for l, c in chinese.items()}))
    return out


def gweather_names(root, words):
    """(kind, English, Chinese by locale) of libgweather's places: every country and state, and
    one city in four. A name that is also a common word ("Mobile", "Salmon") is left out: out of
    context the word is the right reading."""
    base = os.path.join(root, "libgweather-4-common", "usr/share")
    translations = {
        locale: catalogue(os.path.join(base, "locale", locale, "LC_MESSAGES",
                                       "libgweather-4.0-locations.mo"))
        for locale, _ in LOCALES}
    tree = ElementTree.parse(os.path.join(base, "libgweather-4", "Locations.xml"))
    out = []
    for kind in ("country", "state", "city"):
        for element in tree.iter(kind):
            name = element.find("_name")
            if name is None or not name.text:
                continue
            english = name.text.strip()
            if english.lower() in words:
                continue
            if kind == "city" and zlib.crc32(english.encode()) % 4 != 0:
                continue
            context = name.get("msgctxt")
            msgid = f"{context}\x04{english}" if context else english
            out.append((f"gweather-{kind}", english,
                        {locale: t.get(msgid) for locale, t in translations.items()}))
    return out


class WordNet:
    """Synonyms from WordNet: the lemmas that share one of a word's first two senses of each
    part of speech, found after reducing the word to its base form (WordNet's own rules)."""

    SUFFIXES = {
        "n": [("s", ""), ("ses", "s"), ("xes", "x"), ("zes", "z"), ("ches", "ch"),
              ("shes", "sh"), ("men", "man"), ("ies", "y")],
        "v": [("s", ""), ("ies", "y"), ("es", "e"), ("es", ""), ("ed", "e"), ("ed", ""),
              ("ing", "e"), ("ing", "")],
        "a": [("er", ""), ("est", ""), ("er", "e"), ("est", "e")],
        "r": [],
    }
    FILES = {"n": "noun", "v": "verb", "a": "adj", "r": "adv"}

    def __init__(self, root):
        base = os.path.join(root, "wordnet-base", "usr/share/wordnet")
        self.senses = {}  # (lemma, pos) -> synset offsets in sense order
        self.exceptions = {}  # (form, pos) -> base forms
        self.synsets = {}  # (pos, offset) -> lemmas
        for pos, name in self.FILES.items():
            with open(os.path.join(base, "index." + name), encoding="latin-1") as f:
                for line in f:
                    if line.startswith(" "):
                        continue
                    fields = line.split()
                    pointers = int(fields[3])
                    sense_count = int(fields[2])
                    offsets = fields[6 + pointers:6 + pointers + sense_count]
                    self.senses[(fields[0], pos)] = offsets
            with open(os.path.join(base, name + ".exc"), encoding="latin-1") as f:
                for line in f:
                    form, *bases = line.split()
                    self.exceptions[(form, pos)] = bases
            with open(os.path.join(base, "data." + name), encoding="latin-1") as f:
                for line in f:
                    if line.startswith(" "):
                        continue
                    fields = line.split()
                    count = int(fields[3], 16)
                    lemmas = [re.sub(r"\(.*\)$", "", fields[4 + 2 * i]).lower()
                              for i in range(count)]
                    self.synsets[(pos, fields[0])] = lemmas

    def bases(self, word, pos):
        out = [word] if (word, pos) in self.senses else []
        out += [b for b in self.exceptions.get((word, pos), []) if (b, pos) in self.senses]
        for ending, replacement in self.SUFFIXES[pos]:
            if word.endswith(ending):
                base = word[:len(word) - len(ending)] + replacement
                if (base, pos) in self.senses:
                    out.append(base)
        return out

    def synonyms(self, text):
        word = text.lower().replace(" ", "_")
        out = set()
        for pos in self.FILES:
            for base in self.bases(word, pos):
                out.add(base)
                for offset in self.senses[(base, pos)][:2]:
                    out.update(self.synsets[(pos, offset)])
        return {s.replace("_", " ") for s in out} - {text.lower()}


def collect(root, packages, names, common):
    """direction -> text -> [answers, kinds, sources]"""
    sets = {"en>zh-Hans": {}, "zh-Hans>en": {}, "zh-Hant>en": {}}

    def add(english, chinese, locale, kind, source):
        if locale == "zh_CN":
            item = sets["en>zh-Hans"].setdefault(english, [set(), set(), set()])
            item[0].add(chinese), item[1].add(kind), item[2].add(source)
        item = sets[dict(LOCALES)[locale]].setdefault(chinese, [set(), set(), set()])
        item[0].add(english), item[1].add(kind), item[2].add(source)

    for package in packages:
        for locale, _ in LOCALES:
            for english, chinese in word_pairs(root, package, locale, common):
                add(english, chinese, locale, "word", package)
    for source, english, chinese_by_locale in names:
        if not english or not NAME.match(english):
            continue
        for locale, chinese in chinese_by_locale.items():
            if chinese and CHINESE_NAME.match(chinese):
                add(english, chinese, locale, "name", source)
    return sets


def write(path, sets, wordnet, leave_out=None):
    counts = {}
    with open(path, "w", encoding="utf-8") as out:
        for direction, items in sets.items():
            for text in sorted(items):
                if leave_out and text.lower() in leave_out:
                    continue
                answers, kinds, sources = items[text]
                kind = "word" if "word" in kinds else "name"
                synonyms = set()
                if direction.endswith(">en"):
                    for answer in answers:
                        synonyms |= wordnet.synonyms(answer)
                    synonyms -= {a.lower() for a in answers}
                out.write(f"{direction}\t{text}\t{'|'.join(sorted(answers))}\t{kind}\t"
                          f"{','.join(sorted(sources))}\t{'|'.join(sorted(synonyms))}\n")
                counts[(direction, kind)] = counts.get((direction, kind), 0) + 1
    print(path, ", ".join(f"{d} {k}s {n}" for (d, k), n in sorted(counts.items())))


def main():
    args = sys.argv[1:]
    cache = "/tmp/talvori-catalogues"
    if len(args) >= 2 and args[0] == "--cache":
        cache, args = args[1], args[2:]
    out_dir = args[0] if args else os.path.dirname(os.path.abspath(__file__))
    root = fetch(DATA_PACKAGES + DEV_PACKAGES + HELD_OUT_PACKAGES, cache)
    with open(os.path.join(root, "wamerican-small", "usr/share/dict/american-english-small"),
              encoding="utf-8") as f:
        lines = [line.strip() for line in f if "'" not in line]
    common = {line.lower() for line in lines}
    lower_case_words = {line for line in lines if line == line.lower()}
    wordnet = WordNet(root)
    names = iso_names(root) + cldr_names(root)
    dev_names = [n for n in names if zlib.crc32(n[1].encode()) % 2 == 0]
    held_out_names = [n for n in names if zlib.crc32(n[1].encode()) % 2 == 1]
    dev = collect(root, DEV_PACKAGES, dev_names, common)
    write(os.path.join(out_dir, "dev_set.tsv"), dev, wordnet)
    seen = set()
    add_seen(seen, dev)
    held_out = collect(root, HELD_OUT_PACKAGES, held_out_names, common)
    write(os.path.join(out_dir, "held_out_set.tsv"), held_out, wordnet, seen)

    # The fresh pair leaves out every text of the first pair, and its held-out set every text of
    # its dev set, so that nothing tuned on is measured again.
    add_seen(seen, held_out)
    fetch(FRESH_DEV_PACKAGES + FRESH_HELD_OUT_PACKAGES, cache)
    places = gweather_names(root, lower_case_words)
    fresh_dev = collect(root, FRESH_DEV_PACKAGES,
                        [n for n in places if split_bit(n[1]) == 0], common)
    write(os.path.join(out_dir, "fresh_dev_set.tsv"), fresh_dev, wordnet, seen)
    add_seen(seen, fresh_dev)
    fresh_held_out = collect(root, FRESH_HELD_OUT_PACKAGES,
                             [n for n in places if split_bit(n[1]) == 1], common)
    write(os.path.join(out_dir, "fresh_held_out_set.tsv"), fresh_held_out, wordnet, seen)


def split_bit(name):
    """Which of the two fresh sets a place goes to: a bit of its hash that does not also pick
    the cities kept."""
    return (zlib.crc32(name.encode()) >> 2) % 2


def add_seen(seen, sets):
    for items in sets.values():
        for text, (answers, _, _) in items.items():
            seen.add(text.lower())
            seen.update(answer.lower() for answer in answers)


if __name__ == "__main__":
    main()
