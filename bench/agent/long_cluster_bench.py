#!/usr/bin/env python3
"""Peak memory of the agent for one accepted line of about 50 MB: a single user-perceived
character, "e" followed by combining acute accents (U+0301), which admission lets through since
it counts one character. For each target the agent is started afresh (headless), answers one
short request, and is then sent the long line; printed are its peak resident memory before and
after the long line, the growth, the growth as a multiple of the line's size, the reply's size
and the time to the reply.

    python3 bench/agent/long_cluster_bench.py [build/talvori] [megabytes]
"""
import json
import os
import subprocess
import sys
import threading
import time

AGENT = sys.argv[1] if len(sys.argv) > 1 else "build/talvori"
MEGABYTES = int(sys.argv[2]) if len(sys.argv) > 2 else 50
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return -1


def run(target):
    text = "e" + "\u0301" * (MEGABYTES * 1_000_000 // 2)
    line = json.dumps({"id": "long", "text": text, "target": target},
                      ensure_ascii=False).encode() + b"\n"
    agent = subprocess.Popen([AGENT], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=ENV)
    agent.stdin.write(b'{"id":"warm","text":"hello","target":"en"}\n')
    agent.stdin.flush()
    agent.stdout.readline()
    before = status_kib(agent.pid, "VmHWM:")
    began = time.monotonic()
    writer = threading.Thread(target=lambda: (agent.stdin.write(line), agent.stdin.flush()))
    writer.start()
    reply = agent.stdout.readline()
    took = time.monotonic() - began
    writer.join()
    peak = status_kib(agent.pid, "VmHWM:")
    agent.stdin.close()
    agent.wait(timeout=30)
    answer = json.loads(reply)
    kind = "text" if "text" in answer else "error: " + answer["error"]
    return len(line), before, peak, len(reply), kind, took


print("| target | line | peak before | peak after | growth | growth / line | reply | time |")
print("|---|---|---|---|---|---|---|---|")
for target in ("en", "auto", "zh-Hans"):
    size, before, peak, reply, kind, took = run(target)
    growth = (peak - before) * 1024
    print(f"| {target} | {size / 1e6:.1f} MB | {before / 1024:.1f} MB | {peak / 1024:.1f} MB "
          f"| {growth / 1e6:.1f} MB | {growth / size:.2f} | {reply / 1e6:.1f} MB ({kind}) "
          f"| {took:.1f} s |")
