#!/usr/bin/env python3
"""Draws the hand-check samples from the benchmark's answers and tallies the verdicts.

Usage: hand_sample.py ANSWERS.tsv ROUND [hand_check.tsv]

ANSWERS.tsv is what `dictionary_bench --answers=` writes. For each set and for the directions
en>zh-Hans and zh-Hans>en, 100 answered items are drawn with a fixed seed (so the same answers
give the same sample). Verdicts are read from hand_check.tsv (round, set, direction, text,
answer, verdict), matched on text and answer, whatever round judged them: g (good: the common
translation), a (acceptable: a correct translation in a less common sense or wording) or w
(wrong). The sample's lines are written to hand_check.tsv under ROUND, those still without a
verdict with "?", and the counts are printed.
"""

import os
import random
import sys

SAMPLE = 100


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    answers_path, round_name = sys.argv[1], sys.argv[2]
    checks_path = sys.argv[3] if len(sys.argv) > 3 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "hand_check.tsv")
    checks = []
    if os.path.exists(checks_path):
        with open(checks_path, encoding="utf-8") as f:
            checks = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    verdicts = {(c[3], c[4]): c[5] for c in checks if c[5] != "?"}
    with open(answers_path, encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f]
    kept = [c for c in checks if c[0] != round_name]
    for name in ("dev_set.tsv", "held_out_set.tsv"):
        for direction in ("en>zh-Hans", "zh-Hans>en"):
            answered = [r for r in rows if r[0] == name and r[1] == direction and r[4] != "-"]
            sample = random.Random(f"hand-{name}-{direction}").sample(answered, SAMPLE)
            counts = {"g": 0, "a": 0, "w": 0, "?": 0}
            for r in sample:
                verdict = verdicts.get((r[3], r[4]), "?")
                counts[verdict] += 1
                kept.append([round_name, name, direction, r[3], r[4], verdict])
            print(f"{round_name} {name} {direction}: good {counts['g']}, acceptable "
                  f"{counts['g'] + counts['a']}, wrong {counts['w']}, unjudged {counts['?']}")
    with open(checks_path, "w", encoding="utf-8") as f:
        for c in kept:
            f.write("\t".join(c) + "\n")


if __name__ == "__main__":
    main()
