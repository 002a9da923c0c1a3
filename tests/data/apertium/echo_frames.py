#!/usr/bin/python3
"""A stand-in pipeline program: answers each NUL-ended frame with the frame itself, and chatters
on standard error.

A frame holding CRASH kills the program mid-translation; one holding GARBAGE is answered with
bytes that are not its answer.
"""
import os
import signal
import sys

stdin = sys.stdin.buffer
stdout = sys.stdout.buffer
frame = b""
while True:
    byte = stdin.read(1)
    if not byte:
        break
    if byte != b"\0":
        frame += byte
        continue
    sys.stderr.write("echo_frames: answering a frame\n")
    sys.stderr.flush()
    if b"CRASH" in frame:
        os.kill(os.getpid(), signal.SIGKILL)
    stdout.write(b"junk\0" if b"GARBAGE" in frame else frame + b"\0")
    stdout.flush()
    frame = b""
