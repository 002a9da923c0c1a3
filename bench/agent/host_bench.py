#!/usr/bin/env python3
"""Host-level figures of the agent binary, measured the way a host sees it (headless).

  - start-up: from process start to the first reply of a request answered by the shortcut;
  - throughput: replies per second on the shortcut path with 32 requests in flight, and the
    agent's processor time (user and system, all its threads) per reply;
  - memory: peak resident size of the agent's own process after 1,000 requests and one
    Apertium translation (pipeline processes not counted).

Usage: bench/agent/host_bench.py [--rounds N] [BINARY ...]   (default build/talvori)

With several binaries the throughput runs take turns (one run of each binary per round, N rounds,
5 by default), so that all see the same load; each figure is followed by its ratio to the first
binary's.
"""
import json
import os
import selectors
import statistics
import subprocess
import sys
import time

DEFAULT_BINARY = os.path.join(os.path.dirname(__file__), "..", "..", "build", "talvori")
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")
SHORTCUT = "The quick brown fox jumps over the lazy dog near the river bank."


def request(rid, text=SHORTCUT, target="en"):
    return (json.dumps({"id": str(rid), "text": text, "target": target},
                       ensure_ascii=False) + "\n").encode()


def start(binary):
    return subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=ENV, bufsize=0)


def startup_ms(binary, runs=25):
    times = []
    for _ in range(runs):
        began = time.perf_counter()
        agent = start(binary)
        agent.stdin.write(request(1))
        agent.stdout.readline()
        times.append((time.perf_counter() - began) * 1000)
        agent.stdin.close()
        agent.wait()
    return statistics.median(times), min(times), max(times)


def throughput(binary, total=50000, window=32):
    """Replies per second, and the agent's processor time per reply in microseconds."""
    agent = start(binary)
    os.set_blocking(agent.stdout.fileno(), False)
    selector = selectors.DefaultSelector()
    selector.register(agent.stdout, selectors.EVENT_READ)
    lines = [request(i) for i in range(total)]
    sent = received = 0
    began = time.perf_counter()
    while received < total:
        if sent - received < window and sent < total:
            burst = min(window - (sent - received), total - sent)
            agent.stdin.write(b"".join(lines[sent:sent + burst]))
            sent += burst
        for _key, _ in selector.select(timeout=5):
            received += (agent.stdout.read(1 << 16) or b"").count(b"\n")
    elapsed = time.perf_counter() - began
    agent.stdin.close()
    _, status, usage = os.wait4(agent.pid, 0)
    agent.returncode = os.waitstatus_to_exitcode(status)
    return total / elapsed, (usage.ru_utime + usage.ru_stime) / total * 1e6


def peak_memory_mb(binary):
    agent = start(binary)
    for i in range(1000):
        agent.stdin.write(request(i))
        agent.stdout.readline()
    agent.stdin.write(request("es", "El perro come la manzana en la casa de mi abuela.", "en"))
    reply = json.loads(agent.stdout.readline())
    with open(f"/proc/{agent.pid}/status") as status:
        fields = dict(line.split(":", 1) for line in status)
    agent.stdin.close()
    agent.wait()
    return int(fields["VmHWM"].split()[0]) / 1024, reply


def main():
    args = sys.argv[1:]
    rounds = None
    if args[:1] == ["--rounds"]:
        rounds = int(args[1])
        args = args[2:]
    binaries = args or [DEFAULT_BINARY]
    rounds = rounds or (3 if len(binaries) == 1 else 5)

    def ratio(value, first):
        return "" if len(binaries) == 1 else f" [{value / first:.2f}]"

    startups = {}
    for binary in binaries:
        startups[binary] = startup_ms(binary)
        median, low, high = startups[binary]
        print(f"{binary}: start-up to first reply: median {median:.1f} ms (min {low:.1f}, "
              f"max {high:.1f}, 25 runs){ratio(median, startups[binaries[0]][0])}")
    runs = {binary: [] for binary in binaries}
    for _ in range(rounds):
        for binary in binaries:
            runs[binary].append(throughput(binary))
    first_rate = statistics.median(rate for rate, _ in runs[binaries[0]])
    first_cpu = statistics.median(cpu for _, cpu in runs[binaries[0]])
    for binary in binaries:
        rates = [rate for rate, _ in runs[binary]]
        cpus = [cpu for _, cpu in runs[binary]]
        rate, cpu = statistics.median(rates), statistics.median(cpus)
        print(f"{binary}: shortcut replies/s, 32 in flight: median {rate:,.0f}"
              f"{ratio(rate, first_rate)} (runs: {', '.join(f'{r:,.0f}' for r in rates)}); "
              f"agent CPU per reply: median {cpu:.1f} us{ratio(cpu, first_cpu)}")
    for binary in binaries:
        peak, reply = peak_memory_mb(binary)
        print(f"{binary}: peak resident memory after 1,000 requests and one translation: "
              f"{peak:.1f} MB (translation: {reply.get('text')!r})")


if __name__ == "__main__":
    main()
