#!/usr/bin/env python3
"""Measures the sentence engine loader with synthetic models of the published shapes.

    bench_engine.py ZHEN_DIR ENZH_DIR [--runs N] [--warm N] [--starts N] [--node-arg ARG]...
    bench_engine.py ZHEN_DIR ENZH_DIR --long

ZHEN_DIR and ENZH_DIR are model folders made by make_test_models with SIZE real. Prints, for
each direction, medians measured with both engines running side by side (requests alternate):
engine time of one sentence after N warm-up requests (wall clock and CPU time of the engine
process; the engine compiles its hottest code better after some use), the same with a
source half as long (an output of realistic length, see README.md), time from process start to
"ready" and to the first answer, engine time of the next four answers, resident memory while
loaded, and context switches per second of the idle process over 10 s. The environment
variable NODE names the Node.js program (default node). With --long, times requests of
10,000 characters instead.
"""

import argparse
import os
import statistics
import sys
import time

from engine_client import Engine, context_switches, cpu_ms, status_kb

# A 20-word English sentence and a 30-character Chinese one, and sources half as long in
# pieces, whose outputs at the engine's length limit are as long as real translations.
SENTENCES = {
    "en-zh": ("The new version of the program saves your documents automatically every few "
              "minutes, so you will not lose your work.",
              "The new version saves your documents automatically."),
    "zh-en": ("新版本的程序每隔几分钟自动保存你的文档，所以你不会丢失工作。",
              "新版本每隔几分钟自动保存文档。"),
}


LONG = {
    "zh-en": ["这是一个很长的句子，" * 1000, "这是一个很长的句子。" * 1000],
    "en-zh": ["This is a long sentence, " * 400, "This is a long sentence. " * 400],
}


def long_inputs(folders, node_args):
    for direction, folder in folders.items():
        engine = Engine(folder, node_args=node_args)
        for text in LONG[direction]:
            wall, cpu, answer = timed(engine, text)
            rss = status_kb(engine.pid, "VmRSS") / 1024
            print(f"{direction} {len(text)} characters {text[:12]!r}...: CPU {cpu / 1000:.1f} s, "
                  f"wall {wall / 1000:.1f} s, {len(answer)} characters out, RSS {rss:.0f} MB")
        engine.close()


def timed(engine, text):
    cpu = cpu_ms(engine.pid)
    started = time.monotonic()
    kind, answer = engine.request(text)
    if kind != "ok":
        raise RuntimeError(f"engine answered {kind}: {answer}")
    return (time.monotonic() - started) * 1000, cpu_ms(engine.pid) - cpu, answer


def median(values):
    return statistics.median(values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("zhen")
    parser.add_argument("enzh")
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--warm", type=int, default=30)
    parser.add_argument("--starts", type=int, default=5)
    parser.add_argument("--node-arg", action="append", default=[])
    parser.add_argument("--long", action="store_true")
    args = parser.parse_args()
    folders = {"zh-en": args.zhen, "en-zh": args.enzh}
    print(f"load average before: {os.getloadavg()[0]:.2f}")
    if args.long:
        long_inputs(folders, args.node_arg)
        print(f"load average after: {os.getloadavg()[0]:.2f}")
        return 0

    # Start-up: alternate the directions, each start a fresh process.
    ready = {d: [] for d in folders}
    first = {d: [] for d in folders}
    first_cpu = {d: [] for d in folders}
    early = {d: [] for d in folders}
    for _ in range(args.starts):
        for direction, folder in folders.items():
            engine = Engine(folder, node_args=args.node_arg)
            if engine.first != b"ready\n":
                sys.exit(f"{direction}: {engine.first!r}")
            ready[direction].append(engine.ready_seconds)
            engine.request(SENTENCES[direction][0])
            first[direction].append(time.monotonic() - engine.started)
            first_cpu[direction].append(cpu_ms(engine.pid) / 1000)
            for _ in range(4):
                early[direction].append(timed(engine, SENTENCES[direction][0])[1])
            engine.close()

    # Steady state: both engines loaded, requests alternating between them.
    engines = {d: Engine(f, node_args=args.node_arg) for d, f in folders.items()}
    for _ in range(args.warm):
        for direction, engine in engines.items():
            timed(engine, SENTENCES[direction][0])
    full = {d: [] for d in folders}
    half = {d: [] for d in folders}
    outputs = {}
    for _ in range(args.runs):
        for direction, engine in engines.items():
            long_text, short_text = SENTENCES[direction]
            wall, cpu, answer = timed(engine, long_text)
            full[direction].append((wall, cpu))
            outputs[direction] = answer
            wall, cpu, _ = timed(engine, short_text)
            half[direction].append((wall, cpu))

    rss = {d: status_kb(e.pid, "VmRSS") / 1024 for d, e in engines.items()}
    peak = {d: status_kb(e.pid, "VmHWM") / 1024 for d, e in engines.items()}
    time.sleep(2)
    before = {d: context_switches(e.pid) for d, e in engines.items()}
    time.sleep(10)
    idle = {d: (context_switches(e.pid) - before[d]) / 10 for d, e in engines.items()}
    for engine in engines.values():
        engine.close()

    print(f"load average after: {os.getloadavg()[0]:.2f}")
    print(f"node arguments: {' '.join(args.node_arg) or '(none)'}")
    print(f"runs: {args.runs} after {args.warm} warm-up requests; starts: {args.starts}")
    header = f"{'':50}" + "".join(f"{d:>14}" for d in folders)
    print(header)

    def row(label, values):
        print(f"{label:50}" + "".join(f"{values[d]:>14}" for d in folders))

    row("sentence, wall ms (median)", {d: f"{median(w for w, _ in full[d]):.0f}" for d in folders})
    row("sentence, engine CPU ms (median)",
        {d: f"{median(c for _, c in full[d]):.0f}" for d in folders})
    row("half-length source, wall ms (median)",
        {d: f"{median(w for w, _ in half[d]):.0f}" for d in folders})
    row("half-length source, engine CPU ms (median)",
        {d: f"{median(c for _, c in half[d]):.0f}" for d in folders})
    row("start to ready, s (median)", {d: f"{median(ready[d]):.2f}" for d in folders})
    row("start to first answer, s (median)", {d: f"{median(first[d]):.2f}" for d in folders})
    row("CPU to first answer, s (median)", {d: f"{median(first_cpu[d]):.2f}" for d in folders})
    row("2nd to 5th sentence after start, CPU ms (median)",
        {d: f"{median(early[d]):.0f}" for d in folders})
    row("RSS while loaded, MB", {d: f"{rss[d]:.0f}" for d in folders})
    row("peak RSS, MB", {d: f"{peak[d]:.0f}" for d in folders})
    row("idle context switches per second", {d: f"{idle[d]:.1f}" for d in folders})
    for direction, answer in outputs.items():
        print(f"{direction} output of the sentence: {len(answer)} characters")
    return 0


if __name__ == "__main__":
    sys.exit(main())
