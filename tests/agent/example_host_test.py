#!/usr/bin/env python3
"""The example host, examples/translate, run against the agent built with the tests."""
import os
import subprocess
import sys
import unittest

SOURCE, BINARY = sys.argv[1], sys.argv[2]
HOST = [sys.executable, os.path.join(SOURCE, "examples", "translate"),
        "--agent", os.path.join(BINARY, "talvori")]
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")


def run(args, stdin=""):
    return subprocess.run(HOST + args, input=stdin.encode(), capture_output=True, env=ENV,
                          timeout=120)


class ExampleHost(unittest.TestCase):
    def test_arguments_are_answered_in_order(self):
        done = run(["-t", "en", "El perro come la manzana.", "电脑", "   "])
        self.assertEqual(done.stdout.decode().splitlines(),
                         ["The dog eats the apple.", "computer",
                          "error: 文字为空、过长或语言设置无效。"])
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b"")

    def test_more_lines_than_the_queue_holds_all_come_back_in_order(self):
        lines = ["El gato %d." % i if i % 3 else "Good morning %d" % i for i in range(60)]
        done = run(["-t", "en"], "\n".join(lines) + "\n")
        answers = done.stdout.decode().splitlines()
        self.assertEqual(len(answers), 60)
        for i, answer in enumerate(answers):
            self.assertEqual(answer, "The cat %d." % i if i % 3 else lines[i])
        self.assertEqual(done.returncode, 0)

    def test_a_missing_agent_is_reported(self):
        done = subprocess.run(HOST[:2] + ["--agent", "/nonexistent/talvori", "x"],
                              capture_output=True, env=ENV, timeout=30)
        self.assertEqual(done.returncode, 2)
        self.assertIn(b"cannot run the agent", done.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
