#!/usr/bin/python3
"""A stand-in pipeline program: answers each NUL-ended frame with the frame itself, and chatters
on standard error.

Words in a frame switch faults on: CRASH kills the program mid-translation; GARBAGE answers with
bytes that are not the frame's answer; TRUNCATE cuts the answer's last bytes off, so that its
closing marker is damaged; WRONGEND gives the answer another frame's closing marker; HOLD answers
the frame only after the next one, so that answers come out of order.
"""
import os
import re
import signal
import sys

stdin = sys.stdin.buffer
stdout = sys.stdout.buffer
frame = b""
held = None
while True:
    byte = stdin.read(1)
    if not byte:
        break
    if byte != b"\0":
        frame += byte
        continue
    sys.stderr.write("echo_frames: answering a frame\n")
    sys.stderr.flush()
    answer = frame
    if b"CRASH" in frame:
        os.kill(os.getpid(), signal.SIGKILL)
    if b"GARBAGE" in frame:
        answer = b"junk"
    if b"TRUNCATE" in frame:
        answer = frame[:-3]
    if b"WRONGEND" in frame:
        answer = re.sub(rb"\[tve(\d+)\]$", lambda m: b"[tve%d]" % (int(m.group(1)) + 1), frame)
    frame = b""
    if b"HOLD" in answer and held is None:
        held = answer
        continue
    stdout.write(answer + b"\0")
    if held is not None:
        stdout.write(held + b"\0")
        held = None
    stdout.flush()
