#!/usr/bin/env python3
"""Host-level figures of the agent under hosts that misbehave, printed as a table:

- back-pressure: a host writes requests and reads the replies for the first 600 MiB, then stops
  reading and goes on writing until it is held back; the agent's peak resident memory, then
  every reply read and counted once the host reads again;
- idle: wake-ups per second of all the agent's threads while it has nothing to do, from the
  voluntary context switches in /proc/PID/task/*/status;
- huge lines: peak resident memory and time for one 200 MB line, of valid text and of bytes that
  are not UTF-8.

    python3 bench/agent/hardening_bench.py [build/talvori]
"""
import os
import subprocess
import sys
import threading
import time

AGENT = sys.argv[1] if len(sys.argv) > 1 else "build/talvori"
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return -1


def wake_ups(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches:"):
                    total += int(line.split()[1])
    return total


def back_pressure():
    agent = subprocess.Popen([AGENT], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=ENV)
    line = b'{"id":"%s","text":"x","target":"xx"}\n' % (b"i" * 80)
    batch = line * 8192
    sent = [0]
    replies = [0]
    reading = threading.Event()
    reading.set()
    stopped = threading.Event()  # the host has stopped reading once

    def reader():
        while True:
            reading.wait()
            data = agent.stdout.read1(1 << 16)
            if not data:
                return
            replies[0] += data.count(b"\n")

    def writer():
        try:
            while sent[0] < (900 << 20):
                agent.stdin.write(batch)
                agent.stdin.flush()
                sent[0] += len(batch)
                if sent[0] >= (600 << 20) and not stopped.is_set():
                    stopped.set()
                    reading.clear()
        except BrokenPipeError:
            pass

    threading.Thread(target=reader, daemon=True).start()
    w = threading.Thread(target=writer, daemon=True)
    w.start()
    last = -1
    while sent[0] != last or sent[0] < (600 << 20):
        last = sent[0]
        time.sleep(1)
    held_at = sent[0]
    peak = status_kib(agent.pid, "VmHWM:")
    reading.set()
    w.join()
    agent.stdin.close()
    agent.wait(timeout=300)
    expected = sent[0] // len(line)
    return held_at, peak, replies[0], expected


def idle(seconds=10):
    agent = subprocess.Popen([AGENT], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=ENV)
    agent.stdin.write(b'{"id":"1","text":"El perro come la manzana.","target":"en"}\n')
    agent.stdin.flush()
    agent.stdout.readline()
    time.sleep(1)
    before = wake_ups(agent.pid)
    time.sleep(seconds)
    rate = (wake_ups(agent.pid) - before) / seconds
    agent.stdin.close()
    agent.wait(timeout=10)
    return rate


def huge_line(filler):
    path = "/tmp/talvori-huge-line"
    with open(path, "wb") as f:
        f.write(b'{"id":"1","text":"' + filler * 200_000_000 + b'","target":"en"}\n')
    start = time.monotonic()
    with open(path, "rb") as f:
        agent = subprocess.Popen([AGENT], stdin=f, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, env=ENV)
        peak = 0
        while agent.poll() is None:
            try:
                peak = max(peak, status_kib(agent.pid, "VmHWM:"))
            except OSError:
                break
            time.sleep(0.05)
        agent.communicate()
    os.unlink(path)
    return peak, time.monotonic() - start


held_at, peak, replies, expected = back_pressure()
print("| figure | result |")
print("|---|---|")
print(f"| back-pressure: host held back after writing | {held_at / (1 << 20):.0f} MiB |")
print(f"| back-pressure: agent peak resident memory | {peak / 1024:.1f} MB |")
print(f"| back-pressure: replies read / requests written | {replies:,} / {expected:,} |")
print(f"| idle: wake-ups per second, all threads | {idle():.2f} |")
for name, filler in (("valid text", b"a"), ("bytes not UTF-8", b"\xff")):
    peak, took = huge_line(filler)
    print(f"| 200 MB line of {name}: peak resident memory, time | {peak / 1024:.0f} MB, {took:.1f} s |")
