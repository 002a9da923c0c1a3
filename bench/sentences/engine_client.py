"""Drives the sentence engine loader over its pipe protocol, for the checks and the benchmark."""

import os
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LOADER = os.path.join(ROOT, "platform", "sentences", "sentence_engine.cjs")
ENGINE = os.path.join(ROOT, "third_party", "bergamot-translator", "package", "worker")
NODE = os.environ.get("NODE", "node")  # the Node.js program to run the loader with


class Engine:
    """One loader process. `first` is its first line ("ready" or an error record's header)."""

    def __init__(self, model_dir, node=None, node_args=()):
        node = node or NODE
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            [node, *node_args, LOADER, ENGINE, model_dir],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.first = self.process.stdout.readline()
        self.ready_seconds = time.monotonic() - self.started

    @property
    def pid(self):
        return self.process.pid

    def send(self, text):
        body = text.encode() if isinstance(text, str) else text
        self.process.stdin.write(b"%d\n" % len(body) + body)
        self.process.stdin.flush()

    def receive(self):
        """(kind, text) of the next answer, or (None, None) at the end of output."""
        return read_record(self.process.stdout)

    def request(self, text):
        self.send(text)
        return self.receive()

    def close(self, timeout=30):
        """Ends input; returns (exit status, everything written to standard error)."""
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        status = self.process.wait(timeout)
        return status, self.process.stderr.read()


def read_record(stream):
    header = stream.readline()
    if not header:
        return None, None
    kind, size = header.split()
    return kind.decode(), stream.read(int(size)).decode()


def cpu_ms(pid):
    """CPU time of all the process's threads so far, in milliseconds."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total / 1e6


def status_kb(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def context_switches(pid):
    """Voluntary and involuntary context switches of all the process's threads."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if "ctxt_switches" in line:
                        total += int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total
