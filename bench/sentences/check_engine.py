#!/usr/bin/env python3
"""Checks the sentence engine loader against synthetic models of both directions.

    check_engine.py MAKE_SENTENCE_MODEL [--models DIR]

Makes small test models with tools/sentence_models/make_test_models (in DIR, kept between runs,
or a temporary folder), then checks: both directions load and answer; line breaks, blank lines
and the white space around lines come back as they were; every sentence of a line is
translated; damaged models fail before "ready" with an error record and a non-zero exit; bad
requests; a 10,000-character input; a stopped and a killed engine. Prints one line per check
and "N passed, N failed". The environment variable NODE names the Node.js program (default
node).
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

from engine_client import ROOT, Engine, read_record

MAKE_TEST_MODELS = os.path.join(ROOT, "tools", "sentence_models", "make_test_models")

results = []


def check(name, ok, detail=""):
    results.append(ok)
    print(f"{'ok  ' if ok else 'FAIL'} {name}" + (f": {detail}" if detail and not ok else ""))


def make(maker, models, name, direction, *options):
    folder = os.path.join(models, name)
    subprocess.run([MAKE_TEST_MODELS, maker, folder, direction, *options], check=True)
    return folder


def layout(text):
    """Line breaks, and each line's white-space edges and emptiness: what must survive."""
    parts = re.split(r"(\r\n|\n|\r)", text)
    shape = []
    for i, part in enumerate(parts):
        if i % 2:
            shape.append(part)
        else:
            edges = re.match(r"^(\s*)([\s\S]*?)(\s*)$", part)
            shape.append((edges.group(1), edges.group(2) == "", edges.group(3)))
    return shape


def check_direction(label, folder, source):
    engine = Engine(folder)
    check(f"{label}: ready", engine.first == b"ready\n", engine.first)
    kind, text = engine.request(source)
    check(f"{label}: answers", kind == "ok" and text.strip() != "", (kind, text))

    lines = f"  {source}\r\n\n   \n\t{source}  \n{source}\n"
    kind, text = engine.request(lines)
    check(f"{label}: line breaks and edges kept", kind == "ok" and layout(text) == layout(lines),
          repr(text[:200]))

    for text in ["", "   ", "\n\n", " \r\n "]:
        kind, answer = engine.request(text)
        check(f"{label}: blank request {text!r} comes back as it was",
              (kind, answer) == ("ok", text), (kind, answer))

    status, stderr = engine.close()
    check(f"{label}: exit 0 at the end of input, nothing on stderr", status == 0 and not stderr,
          (status, stderr[:200]))


def check_sentences(label, folder):
    """Three sentences on one line translate as three: each one's translation on its own turns
    up in the line's, in order. Without a shortlist, since the engine builds one shortlist per
    batch, which can change a sentence's output with the company it keeps."""
    plain = folder + "-no-shortlist"
    os.makedirs(plain, exist_ok=True)
    for name in os.listdir(folder):
        if not name.startswith("lex.") and not os.path.exists(os.path.join(plain, name)):
            os.link(os.path.join(folder, name), os.path.join(plain, name))
    engine = Engine(plain)
    three = {"en-zh": ["First sentence here.", "Second sentence here!", "Third one?"],
             "zh-en": ["第一句话在这里。", "第二句话在这里！", "第三句？"]}[label]
    _, whole = engine.request(" ".join(three) if label == "en-zh" else "".join(three))
    position = 0
    for sentence in three:
        _, alone = engine.request(sentence)
        found = whole.find(alone, position)
        position = found + len(alone) if found >= 0 and alone else -1
        if position < 0:
            break
    check(f"{label}: every sentence of a line translated", position >= 0, repr(whole[:200]))
    engine.close()


def check_damage(maker, models):
    base = os.path.join(models, "zhen")
    for damage in ["truncate", "shape", "missing", "shortlist"]:
        folder = os.path.join(models, f"zhen-{damage}")
        os.makedirs(folder, exist_ok=True)
        for name in os.listdir(base):
            if name.startswith("vocab."):
                target = os.path.join(folder, name)
                if not os.path.exists(target):
                    os.link(os.path.join(base, name), target)
        make(maker, models, f"zhen-{damage}", "zh-en", "--damage", damage)
        engine = Engine(folder)
        kind, message = read_record_after(engine)
        status, stderr = engine.close()
        check(f"damaged model ({damage}): error before ready, exit non-zero",
              kind == "error" and status != 0 and not stderr, (engine.first, message, status))

    for name, files in [("no model file", ["vocab.zhen.spm"]),
                        ("no vocabulary", ["model.zhen.intgemm.alphas.bin"]),
                        ("two model files", None)]:
        folder = os.path.join(models, "incomplete")
        subprocess.run(["rm", "-rf", folder], check=True)
        os.makedirs(folder)
        for file in files or os.listdir(base):
            os.link(os.path.join(base, file), os.path.join(folder, file))
        if files is None:
            os.link(os.path.join(base, "model.zhen.intgemm.alphas.bin"),
                    os.path.join(folder, "model.copy.bin"))
        engine = Engine(folder)
        kind, message = read_record_after(engine)
        status, _ = engine.close()
        check(f"model folder with {name}: error, exit non-zero", kind == "error" and status != 0,
              (engine.first, message, status))


def read_record_after(engine):
    """The record whose header the constructor read as `first`."""
    header = engine.first.split()
    if len(header) != 2:
        return None, None
    return header[0].decode(), engine.process.stdout.read(int(header[1])).decode()


def check_requests(folder):
    engine = Engine(folder)
    kind, message = engine.request(b"\xff\xfe bad")
    check("invalid UTF-8: error answer", kind == "error", (kind, message))
    kind, _ = engine.request("还在工作吗？")
    check("invalid UTF-8: the next request is answered", kind == "ok")

    # Several requests written at once are answered in order.
    for text in ["一。", "二二二二二二二二。", "三。"]:
        engine.send(text)
    lengths = [len(engine.receive()[1]) for _ in range(3)]
    check("requests in a row answered in order",
          lengths[1] > lengths[0] and lengths[1] > lengths[2], lengths)

    huge = "这是一个很长的句子，" * 1000
    started = time.monotonic()
    engine.send(huge)
    kind, text = engine.receive()
    seconds = time.monotonic() - started
    check(f"10,000 characters: {kind} after {seconds:.1f} s", kind in ("ok", "error"))

    engine.process.stdin.write(b"12x\n")
    engine.process.stdin.flush()
    kind, message = engine.receive()
    status, _ = engine.close()
    check("malformed header: error answer, exit non-zero", kind == "error" and status != 0,
          (kind, message, status))


def check_signals(folder):
    engine = Engine(folder)
    os.kill(engine.pid, signal.SIGSTOP)
    engine.send("你好。")
    os.set_blocking(engine.process.stdout.fileno(), False)
    time.sleep(1)
    waiting = engine.process.stdout.read() is None
    os.set_blocking(engine.process.stdout.fileno(), True)
    check("stopped engine: no answer while stopped", waiting)
    os.kill(engine.pid, signal.SIGCONT)
    kind, _ = engine.receive()
    check("stopped engine: answers once continued", kind == "ok")

    engine.send("你好。")
    os.kill(engine.pid, signal.SIGKILL)
    kind, _ = engine.receive()
    status, stderr = engine.close()
    check("killed engine: end of output, killed status", kind is None and status == -9,
          (kind, status))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("maker", help="the make_sentence_model program")
    parser.add_argument("--models", help="folder for the test models, kept between runs")
    args = parser.parse_args()
    models = args.models or tempfile.mkdtemp(prefix="sentence-models-")
    maker = os.path.abspath(args.maker)

    zhen = make(maker, models, "zhen", "zh-en")
    enzh = make(maker, models, "enzh", "en-zh")
    check_direction("zh-en", zhen, "这是一个用于测试的句子。")
    check_direction("en-zh", enzh, "This is a sentence for the test.")
    check_sentences("zh-en", zhen)
    check_sentences("en-zh", enzh)
    check_damage(maker, models)
    check_requests(zhen)
    check_signals(zhen)
    if not args.models:
        subprocess.run(["rm", "-rf", models], check=True)

    passed = sum(results)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
