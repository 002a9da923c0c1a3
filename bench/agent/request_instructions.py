#!/usr/bin/env python3
"""Instructions the agent executes per shortcut request, counted by callgrind (all threads).

A figure that does not depend on the machine's load: the agent answers 3,000 and then 300
shortcut requests (32 in flight, as in host_bench.py) under `valgrind --tool=callgrind`, and the
difference over 2,700 leaves start-up and shut-down out.

Usage: bench/agent/request_instructions.py [--keep DIR] BINARY ...
With --keep, the callgrind files stay in DIR (callgrind_annotate reads them).
"""
import json
import os
import re
import subprocess
import sys
import tempfile

TEXT = "The quick brown fox jumps over the lazy dog near the river bank."
WINDOW = 32


def instructions(binary, requests, out):
    agent = subprocess.Popen(
        ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", binary],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
        env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), bufsize=0)
    sent = received = 0
    while received < requests:
        while sent < requests and sent - received < WINDOW:
            line = json.dumps({"id": str(sent), "text": TEXT, "target": "en"}) + "\n"
            agent.stdin.write(line.encode())
            sent += 1
        if not agent.stdout.readline():
            raise RuntimeError(f"{binary} ended after {received} replies")
        received += 1
    agent.stdin.close()
    agent.wait()
    with open(out) as profile:
        return int(re.search(r"^totals: (\d+)", profile.read(), re.M).group(1))


def main():
    args = sys.argv[1:]
    keep = None
    if args[:1] == ["--keep"]:
        keep, args = args[1], args[2:]
    directory = keep or tempfile.mkdtemp()
    for n, binary in enumerate(args):
        many = instructions(binary, 3000, os.path.join(directory, f"callgrind.{n}.3000"))
        few = instructions(binary, 300, os.path.join(directory, f"callgrind.{n}.300"))
        print(f"{binary}: {(many - few) / 2700:,.0f} instructions a request "
              f"({many / 3000:,.0f} with start-up shared among 3,000)")


if __name__ == "__main__":
    main()
