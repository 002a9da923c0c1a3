#!/usr/bin/env python3
"""Host-level figures of the agent binary, measured the way a host sees it (headless).

  - start-up: from process start to the first reply of a request answered by the shortcut;
  - throughput: replies per second on the shortcut path with 32 requests in flight;
  - memory: peak resident size of the agent's own process after 1,000 requests and one
    Apertium translation (pipeline processes not counted).

Usage: bench/agent/host_bench.py [build/talvori]
"""
import json
import os
import selectors
import statistics
import subprocess
import sys
import time

BINARY = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "talvori")
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")
SHORTCUT = "The quick brown fox jumps over the lazy dog near the river bank."


def request(rid, text=SHORTCUT, target="en"):
    return (json.dumps({"id": str(rid), "text": text, "target": target},
                       ensure_ascii=False) + "\n").encode()


def start():
    return subprocess.Popen([BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=ENV, bufsize=0)


def startup_ms(runs=25):
    times = []
    for _ in range(runs):
        began = time.perf_counter()
        agent = start()
        agent.stdin.write(request(1))
        agent.stdout.readline()
        times.append((time.perf_counter() - began) * 1000)
        agent.stdin.close()
        agent.wait()
    return statistics.median(times), min(times), max(times)


def throughput(total=50000, window=32):
    agent = start()
    os.set_blocking(agent.stdout.fileno(), False)
    selector = selectors.DefaultSelector()
    selector.register(agent.stdout, selectors.EVENT_READ)
    lines = [request(i) for i in range(total)]
    sent = received = 0
    pending = b""
    began = time.perf_counter()
    while received < total:
        if sent - received < window and sent < total:
            burst = min(window - (sent - received), total - sent)
            agent.stdin.write(b"".join(lines[sent:sent + burst]))
            sent += burst
        for _key, _ in selector.select(timeout=5):
            chunk = agent.stdout.read(1 << 16) or b""
            pending += chunk
            received += chunk.count(b"\n")
    elapsed = time.perf_counter() - began
    agent.stdin.close()
    agent.wait()
    return total / elapsed


def peak_memory_mb():
    agent = start()
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
    median, low, high = startup_ms()
    print(f"start-up to first reply: median {median:.1f} ms (min {low:.1f}, max {high:.1f}, 25 runs)")
    rates = [throughput() for _ in range(3)]
    print(f"shortcut replies/s, 32 in flight: median {statistics.median(rates):,.0f} "
          f"(runs: {', '.join(f'{r:,.0f}' for r in rates)})")
    peak, reply = peak_memory_mb()
    print(f"peak resident memory after 1,000 requests and one translation: {peak:.1f} MB "
          f"(translation: {reply.get('text')!r})")


if __name__ == "__main__":
    main()
