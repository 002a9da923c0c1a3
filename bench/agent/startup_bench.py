#!/usr/bin/env python3
"""Start-up of the agent as a host sees it: from spawning the process to reading the reply to its
first request, one answered by the same-language shortcut. Measured side by side with a Qt
hello-world (bench/agent/qt_hello.cc: the application object and a label shown, up to its first
event-loop turn), alternating runs, headless (offscreen) and on an X server (Xvfb, no window
manager or compositor).

    python3 bench/agent/startup_bench.py [build]      # build/talvori and build/bench/qt_hello
"""
import os
import statistics
import subprocess
import sys
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
AGENT = os.path.join(BUILD, "talvori")
HELLO = os.path.join(BUILD, "bench", "qt_hello")
RUNS = 21
REQUEST = b'{"id":"1","text":"Good morning to you all","target":"en"}\n'


def agent_once(env):
    began = time.perf_counter()
    agent = subprocess.Popen([AGENT], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env, bufsize=0)
    agent.stdin.write(REQUEST)
    agent.stdout.readline()
    took = time.perf_counter() - began
    agent.stdin.close()
    agent.wait()
    return took * 1000


def hello_once(env):
    began = time.perf_counter()
    hello = subprocess.Popen([HELLO], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    hello.stdout.readline()
    took = time.perf_counter() - began
    hello.wait()
    return took * 1000


def measure(env):
    agent, hello = [], []
    for _ in range(RUNS):
        agent.append(agent_once(env))
        hello.append(hello_once(env))
    return agent, hello


def row(name, times):
    return f"| {name} | {statistics.median(times):.1f} ms | {min(times):.1f} | {max(times):.1f} |"


base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
headless = dict(base, QT_QPA_PLATFORM="offscreen")
display = ":%d" % (90 + os.getpid() % 9)
xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(1.0)
try:
    on_x = dict(base, DISPLAY=display)
    on_x.pop("QT_QPA_PLATFORM", None)
    results = [("headless", measure(headless)), ("Xvfb", measure(on_x))]
finally:
    xvfb.terminate()
    xvfb.wait()

print(f"load average {os.getloadavg()[0]:.2f}; {RUNS} runs each, alternating")
print("| program, display | median | min | max |")
print("|---|---|---|---|")
for where, (agent, hello) in results:
    print(row(f"agent, {where}", agent))
    print(row(f"Qt hello-world, {where}", hello))
