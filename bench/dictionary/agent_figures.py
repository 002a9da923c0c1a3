#!/usr/bin/env python3
"""Host-level figures of the dictionary in the agent binary, measured as a host sees them
(headless):

  - start-up: from process start to the first reply of a request answered by the shortcut
    (the dictionary is not opened at start-up, so this should match bench/agent/host_bench.py);
  - first Chinese request: once the agent has answered its first (shortcut) request, the time
    from writing "电脑" to its reply, which includes opening the index;
  - memory: peak resident size of the agent after 300 dictionary requests in both directions
    (texts from dev_set.tsv).

Usage: bench/dictionary/agent_figures.py [build/talvori [BASELINE]]

With BASELINE (another build of the agent, say one without the dictionary), start-up and the
first Chinese request are measured on both, in alternating rounds, so that a busy machine
weighs on both alike; the baseline answers "电脑" however it does.
"""
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BINARY = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "..", "build", "talvori")
BASELINE = sys.argv[2] if len(sys.argv) > 2 else None
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")
SHORTCUT = "The quick brown fox jumps over the lazy dog near the river bank."


def request(rid, text, target):
    return (json.dumps({"id": str(rid), "text": text, "target": target},
                       ensure_ascii=False) + "\n").encode()


def start(binary=None):
    return subprocess.Popen([binary or BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=ENV, bufsize=0)


def timed(agent, text, target):
    began = time.perf_counter()
    agent.stdin.write(request(0, text, target))
    reply = json.loads(agent.stdout.readline())
    return (time.perf_counter() - began) * 1000, reply


def startup_and_first_chinese(binary, runs, check=True):
    startups, firsts, seconds = [], [], []
    for _ in range(runs):
        began = time.perf_counter()
        agent = start(binary)
        agent.stdin.write(request(1, SHORTCUT, "en"))
        agent.stdout.readline()
        startups.append((time.perf_counter() - began) * 1000)
        first, reply = timed(agent, "电脑", "en")
        assert not check or reply.get("text") == "computer", reply
        second, _ = timed(agent, "電腦", "en")
        firsts.append(first)
        seconds.append(second)
        agent.stdin.close()
        agent.wait()
    return startups, firsts, seconds


def peak_memory(count=300):
    texts = []
    with open(os.path.join(HERE, "dev_set.tsv"), encoding="utf-8") as file:
        for line in file:
            direction, text = line.split("\t")[:2]
            texts.append((text, "zh-Hans" if direction.startswith("en") else "en"))
    step = max(1, len(texts) // count)
    chosen = texts[::step][:count]
    agent = start()
    answered = 0
    for i, (text, target) in enumerate(chosen):
        agent.stdin.write(request(i, text, target))
        answered += "text" in json.loads(agent.stdout.readline())
    with open(f"/proc/{agent.pid}/status") as status:
        fields = dict(line.split(":", 1) for line in status)
    agent.stdin.close()
    agent.wait()
    return (int(fields["VmHWM"].split()[0]) / 1024, int(fields["VmRSS"].split()[0]) / 1024,
            len(chosen), answered)


def describe(values):
    return f"median {statistics.median(values):.1f} ms (min {min(values):.1f}, max {max(values):.1f})"


def main():
    binaries = [(BINARY, True)] + ([(BASELINE, False)] if BASELINE else [])
    figures = {binary: ([], [], []) for binary, _ in binaries}
    for _ in range(5):
        for binary, check in binaries:
            for kept, new in zip(figures[binary], startup_and_first_chinese(binary, 5, check)):
                kept.extend(new)
    for binary, _ in binaries:
        startups, firsts, seconds = figures[binary]
        print(binary)
        print(f"  start-up to first reply: {describe(startups)}, {len(startups)} runs")
        print(f"  first Chinese request, index opening included: {describe(firsts)}")
        print(f"  second Chinese request: {describe(seconds)}")
    peak, now, count, answered = peak_memory()
    print(f"after {count} dictionary requests ({answered} answered): peak resident {peak:.1f} MB, "
          f"resident {now:.1f} MB")


if __name__ == "__main__":
    main()
