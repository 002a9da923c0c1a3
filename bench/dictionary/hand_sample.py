#!/usr/bin/env python3
"""Draws the hand-check samples from the benchmark's answers and tallies the verdicts.

Usage: hand_sample.py ANSWERS.tsv ROUND [hand_check.tsv] [--of=EARLIER]

ANSWERS.tsv is what `dictionary_bench --answers=` writes. For each set in it and for the
directions en>zh-Hans and zh-Hans>en, answered items are drawn with a fixed seed (so the same
answers give the same sample): 100 of each of the first pair of sets, 200 of each of the fresh
pair. Verdicts are read from hand_check.tsv (round, set, direction, text, answer, verdict, and
"r" in a seventh column for a rare, literary, regional or slang answer), matched on text and
answer, whatever round judged them: g (good: the common translation), a (acceptable: a correct
translation in a less common sense or wording) or w (wrong; a rare answer is wrong). The
sample's lines are written to hand_check.tsv under ROUND, those still without a verdict with
"?", and the counts are printed.

With --of=EARLIER the sample is not drawn: it is the texts of round EARLIER's samples, with their
answers in ANSWERS.tsv; texts now declined are counted apart and not written.
"""

import os
import random
import sys

SAMPLES = {"dev_set.tsv": 100, "held_out_set.tsv": 100, "fresh_dev_set.tsv": 200,
           "fresh_held_out_set.tsv": 200}


def main():
    options = [a for a in sys.argv[1:] if a.startswith("--of=")]
    arguments = [a for a in sys.argv[1:] if not a.startswith("--of=")]
    if len(arguments) < 2:
        sys.exit(__doc__)
    earlier = options[0][len("--of="):] if options else None
    answers_path, round_name = arguments[0], arguments[1]
    checks_path = arguments[2] if len(arguments) > 2 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "hand_check.tsv")
    checks = []
    if os.path.exists(checks_path):
        with open(checks_path, encoding="utf-8") as f:
            checks = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    for c in checks:
        c += [""] * (7 - len(c))
    verdicts = {(c[3], c[4]): (c[5], c[6]) for c in checks if c[5] != "?"}
    with open(answers_path, encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f]
    kept = [c for c in checks if c[0] != round_name]
    for name, size in SAMPLES.items():
        for direction in ("en>zh-Hans", "zh-Hans>en"):
            answered = [r for r in rows if r[0] == name and r[1] == direction and r[4] != "-"]
            if not answered:
                continue
            declined = 0
            if earlier:
                now = {r[3]: r for r in rows if r[0] == name and r[1] == direction}
                texts = [c[3] for c in checks if c[0] == earlier and c[1] == name and c[2] == direction]
                if not texts:
                    continue
                sample = [now[t] for t in texts if now[t][4] != "-"]
                declined = len(texts) - len(sample)
                size = len(sample)
            else:
                sample = random.Random(f"hand-{name}-{direction}").sample(answered, size)
            counts = {"g": 0, "a": 0, "w": 0, "?": 0, "r": 0}
            for r in sample:
                verdict, rare = verdicts.get((r[3], r[4]), ("?", ""))
                counts[verdict] += 1
                counts["r"] += rare == "r"
                kept.append([round_name, name, direction, r[3], r[4], verdict, rare])
            print(f"{round_name} {name} {direction} ({size}): good {counts['g']}, acceptable "
                  f"{counts['g'] + counts['a']}, wrong {counts['w']} (rare {counts['r']}), "
                  f"unjudged {counts['?']}" + (f", declined {declined}" if earlier else ""))
    with open(checks_path, "w", encoding="utf-8") as f:
        for c in kept:
            f.write("\t".join(c[:6] + ([c[6]] if c[6] else [])) + "\n")


if __name__ == "__main__":
    main()
