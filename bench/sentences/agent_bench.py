#!/usr/bin/env python3
"""Sentences through the agent, side by side with the sentence engine loader alone.

    agent_bench.py AGENT ZHEN_DIR ENZH_DIR [--runs N] [--warm N] [--starts N] [--idle]

AGENT is the agent binary (build/talvori); ZHEN_DIR and ENZH_DIR are model folders made by
make_test_models with SIZE real, which the agent finds installed under a scratch
$XDG_DATA_HOME. Prints medians of:
  - first sentence: a fresh agent, its first Chinese sentence (the engine started, its model
    loaded, the sentence translated), next to a fresh loader's start to first answer;
  - steady state: each test sentence as the agent's round trip (request written to reply read)
    and as the loader's alone (request written to answer read), requests alternating between
    the agent and two loaders, both directions loaded in each, after warm-up requests; the
    agent's engine's CPU time per request (all its threads); and, for the agent and the loader,
    the wall time beyond the engine's own main-thread time for the request (where it
    translates): what the way to the engine and back costs, however fast each engine process
    happens to run, and the difference of the two, what the agent adds;
  - memory: the agent's own resident size, and that of each of its engines while loaded;
  - idle: context switches per second of the agent's engines over 10 s from 2 s after the last
    request; with --idle also whether the engines are still there after the agent's idle time
    (three minutes) and a few seconds more.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from bench_engine import SENTENCES
from engine_client import Engine, context_switches, cpu_ms, status_kb

IDLE_END_SECONDS = 180


class Agent:
    """The agent, headless, with the models installed in a scratch data folder."""

    def __init__(self, binary, data_home, shared):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_DATA_HOME=data_home,
                   XDG_DATA_DIRS=shared,
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/talvori/system_bus_socket")
        self.started = time.monotonic()
        self.process = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=env, bufsize=0)
        self.ids = 0

    def request(self, text, target="auto"):
        self.ids += 1
        line = json.dumps({"id": str(self.ids), "text": text, "target": target},
                          ensure_ascii=False) + "\n"
        self.process.stdin.write(line.encode())
        reply = json.loads(self.process.stdout.readline())
        if "text" not in reply:
            raise RuntimeError(f"agent answered {reply}")
        return reply["text"]

    def engines(self):
        """The engine processes among the agent's children."""
        found = []
        for task in os.listdir(f"/proc/{self.process.pid}/task"):
            with open(f"/proc/{self.process.pid}/task/{task}/children") as f:
                for pid in f.read().split():
                    with open(f"/proc/{pid}/cmdline", "rb") as c:
                        if b"sentence-engine.cjs" in c.read():
                            found.append(int(pid))
        return found

    def close(self):
        self.process.stdin.close()
        self.process.wait(30)


def main_thread_ms(pid):
    """CPU time of the process's main thread so far, in milliseconds: the engine translates there,
    so per request it is the engine's own time for it, however fast its process happens to be."""
    with open(f"/proc/{pid}/task/{pid}/schedstat") as f:
        return int(f.read().split()[0]) / 1e6


def timed(call):
    started = time.monotonic()
    result = call()
    return (time.monotonic() - started) * 1000, result


def median(values):
    return statistics.median(values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("agent")
    parser.add_argument("zhen")
    parser.add_argument("enzh")
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--warm", type=int, default=30)
    parser.add_argument("--starts", type=int, default=5)
    parser.add_argument("--idle", action="store_true")
    args = parser.parse_args()
    folders = {"zh-en": os.path.abspath(args.zhen), "en-zh": os.path.abspath(args.enzh)}
    scratch = tempfile.mkdtemp(prefix="talvori-agent-bench-")
    models = os.path.join(scratch, "data", "talvori", "models")
    os.makedirs(models)
    os.symlink(folders["zh-en"], os.path.join(models, "zhen"))
    os.symlink(folders["en-zh"], os.path.join(models, "enzh"))
    shared = os.path.join(scratch, "shared")
    os.makedirs(shared)
    start_agent = lambda: Agent(args.agent, os.path.join(scratch, "data"), shared)
    print(f"load average before: {os.getloadavg()[0]:.2f}")

    try:
        # First sentence: a fresh agent and a fresh loader in turn. The agent first answers a
        # word from the dictionary, so that its own start is not counted.
        first_agent, first_loader = [], []
        sentence = SENTENCES["zh-en"][0]
        for _ in range(args.starts):
            agent = start_agent()
            agent.request("电脑")
            first_agent.append(timed(lambda: agent.request(sentence))[0] / 1000)
            agent.close()
            engine = Engine(folders["zh-en"])
            engine.request(sentence)
            first_loader.append(time.monotonic() - engine.started)
            engine.close()

        # Steady state, both directions in the agent and in two loaders.
        agent = start_agent()
        loaders = {d: Engine(f) for d, f in folders.items()}
        texts = [(d, text) for d in folders for text in SENTENCES[d]]
        labels = {text: f"{d} {kind}" for d in folders
                  for kind, text in zip(("sentence", "half-length source"), SENTENCES[d])}
        for _ in range(args.warm):
            for direction, text in texts:
                agent.request(text)
                loaders[direction].request(text)
        engines = agent.engines()
        through_agent = {text: [] for _, text in texts}
        alone = {text: [] for _, text in texts}
        agent_engine_cpu = {text: [] for _, text in texts}
        # Wall time less the engine's main-thread time for the same request: what the path to
        # and from the engine costs, through the agent and from the loader's own pipe.
        agent_beyond = {text: [] for _, text in texts}
        alone_beyond = {text: [] for _, text in texts}
        for _ in range(args.runs):
            for direction, text in texts:
                cpu = sum(cpu_ms(pid) for pid in engines)
                main = sum(main_thread_ms(pid) for pid in engines)
                wall, answer = timed(lambda: agent.request(text))
                agent_engine_cpu[text].append(sum(cpu_ms(pid) for pid in engines) - cpu)
                agent_beyond[text].append(
                    wall - (sum(main_thread_ms(pid) for pid in engines) - main))
                through_agent[text].append(wall)
                loader = loaders[direction]
                main = main_thread_ms(loader.pid)
                wall, (kind, alone_answer) = timed(lambda: loader.request(text))
                alone_beyond[text].append(wall - (main_thread_ms(loader.pid) - main))
                alone[text].append(wall)
                if kind != "ok" or alone_answer != answer:
                    raise RuntimeError(f"answers differ for {text!r}")
        agent_rss = status_kb(agent.process.pid, "VmRSS") / 1024
        agent_peak = status_kb(agent.process.pid, "VmHWM") / 1024
        engine_rss = [status_kb(pid, "VmRSS") / 1024 for pid in engines]
        for loader in loaders.values():
            loader.close()
        time.sleep(2)
        before = {pid: context_switches(pid) for pid in engines}
        time.sleep(10)
        idle = [(context_switches(pid) - before[pid]) / 10 for pid in engines]
        still_there = None
        if args.idle:
            time.sleep(IDLE_END_SECONDS - 10)
            still_there = len(agent.engines())
        agent.close()
    finally:
        shutil.rmtree(scratch)

    print(f"load average after: {os.getloadavg()[0]:.2f}")
    print(f"runs: {args.runs} after {args.warm} warm-up requests; starts: {args.starts}")
    print(f"first sentence after start (zh-en), s: agent {median(first_agent):.2f}, "
          f"loader alone {median(first_loader):.2f}")
    print(f"{'median of ' + str(args.runs):30}{'loader ms':>10}{'agent ms':>10}"
          f"{'agent engine CPU ms':>21}{'beyond engine: loader':>23}{'agent':>7}{'added':>7}")
    for _, text in texts:
        a, b = median(alone[text]), median(through_agent[text])
        loader_beyond, beyond = median(alone_beyond[text]), median(agent_beyond[text])
        print(f"{labels[text]:30}{a:>10.1f}{b:>10.1f}{median(agent_engine_cpu[text]):>21.1f}"
              f"{loader_beyond:>23.2f}{beyond:>7.2f}{beyond - loader_beyond:>7.2f}")
    print(f"agent RSS {agent_rss:.1f} MB (peak {agent_peak:.1f} MB); engines' RSS "
          + ", ".join(f"{rss:.0f} MB" for rss in engine_rss))
    print("engines' idle context switches per second: " + ", ".join(f"{i:.1f}" for i in idle))
    if still_there is not None:
        print(f"engines left {IDLE_END_SECONDS} s after the last request: {still_there}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
