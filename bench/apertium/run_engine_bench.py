#!/usr/bin/env python3
"""Engine benchmark driver: the service's warm pipeline, the apertium command run once per
sentence, and Apertium's HTTP server (apertium-apy), side by side on the same Spanish sentences.

Usage: run_engine_bench.py APERTIUM_BENCH [SENTENCES]

APERTIUM_BENCH is the built bench/apertium_bench program; SENTENCES defaults to sentences_es.txt
beside this script (make_sentences.py writes it). Needs scripts/install-bench-deps. apertium-apy
cannot be told which address to listen on, so it runs inside a private network namespace
(unshare --net, root only) whose sole interface is loopback, and is asked on 127.0.0.1; without
that permission its column is skipped. Every loop is bounded, and apy is stopped when done.
Prints one summary, including every sentence whose translation differs from `apertium -u`.
"""

import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
APY_PORT = 2737
APY_PASSES = 3
APY_WARMUP = 20


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip()]


def run_cold(text):
    start = time.perf_counter()
    result = subprocess.run(["apertium", "-u", "spa-eng"], input=text.encode("utf-8"),
                            capture_output=True, timeout=60, check=True)
    return (time.perf_counter() - start) * 1000, result.stdout.decode("utf-8")


def apy_translate(text):
    query = urllib.parse.urlencode({"langpair": "spa|eng", "format": "txt", "q": text})
    url = f"http://127.0.0.1:{APY_PORT}/translate?{query}"
    with urllib.request.urlopen(url, timeout=30) as response:
        return json.load(response)["responseData"]["translatedText"]


def apy_only(sentences_path):
    """Runs inside the private network namespace: starts apy, times it, stops it."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    sentences = read_lines(sentences_path)
    server = subprocess.Popen(["apertium-apy", "-p", str(APY_PORT), "/usr/share/apertium"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        for _ in range(120):  # up to a minute for the server to come up
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{APY_PORT}/listPairs", timeout=2)
                break
            except OSError:
                time.sleep(0.5)
        else:
            raise RuntimeError("apertium-apy did not start")
        for sentence in sentences[:APY_WARMUP]:
            apy_translate(sentence)
        times = []
        for _ in range(APY_PASSES):
            for sentence in sentences:
                start = time.perf_counter()
                apy_translate(sentence)
                times.append((time.perf_counter() - start) * 1000)
        print(json.dumps({"apy_median_ms": statistics.median(times), "apy_requests": len(times)}))
    finally:
        os.killpg(server.pid, signal.SIGTERM)
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(server.pid, signal.SIGKILL)
            server.wait()


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "--apy-only":
        apy_only(sys.argv[2])
        return
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bench = sys.argv[1]
    sentences_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "sentences_es.txt")
    sentences = read_lines(sentences_path)

    out = tempfile.mkdtemp(prefix="engine_bench_")
    ours = json.loads(subprocess.run([bench, sentences_path, out], capture_output=True, text=True,
                                     timeout=600, check=True).stdout)
    warm_outputs = read_lines(os.path.join(out, "warm.txt"))

    cold_times, mismatches = [], []
    for sentence, warm in zip(sentences, warm_outputs):
        ms, reference = run_cold(sentence)
        cold_times.append(ms)
        if reference.rstrip("\n") != warm:
            mismatches.append((sentence, reference.rstrip("\n"), warm))
    with open(os.path.join(out, "long.txt"), encoding="utf-8") as f:
        long_text = f.read()
    with open(os.path.join(out, "long_translated.txt"), encoding="utf-8") as f:
        long_ours = f.read()
    long_cold_ms, long_reference = run_cold(long_text)
    long_equal = long_reference == long_ours

    apy = {}
    try:
        result = subprocess.run(["unshare", "--net", sys.executable, os.path.abspath(__file__),
                                 "--apy-only", sentences_path],
                                capture_output=True, text=True, timeout=900, check=True)
        apy = json.loads(result.stdout.strip().splitlines()[-1])
    except (subprocess.CalledProcessError, OSError, ValueError) as error:
        print(f"apertium-apy skipped: {error}", file=sys.stderr)

    warm = ours["warm_median_ms"]
    cold = statistics.median(cold_times)
    print(f"sentences: {len(sentences)} (median {statistics.median(map(len, sentences)):.0f} "
          f"characters), {ours['passes']} warm passes, {ours['failures']} failures")
    print(f"warm pipeline median:            {warm:8.2f} ms (first request, cold start: "
          f"{ours['first_ms']:.0f} ms)")
    print(f"apertium -u per sentence median: {cold:8.2f} ms  ratio {cold / warm:6.1f}x")
    if apy:
        print(f"apertium-apy median:             {apy['apy_median_ms']:8.2f} ms  ratio "
              f"{apy['apy_median_ms'] / warm:6.1f}x ({apy['apy_requests']} requests)")
    print(f"{ours['long_chars']}-character text median:  {ours['long_median_ms']:8.2f} ms "
          f"(apertium -u: {long_cold_ms:.0f} ms), equal to apertium -u: {long_equal}")
    print(f"sentences differing from apertium -u: {len(mismatches)}")
    for sentence, reference, got in mismatches:
        print(f"  {sentence!r}\n    apertium -u: {reference!r}\n    service:     {got!r}")


if __name__ == "__main__":
    main()
