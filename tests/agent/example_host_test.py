#!/usr/bin/env python3
"""The example host, examples/translate, run against the agent built with the tests."""
import os
import subprocess
import sys
import tempfile
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


    def test_answers_with_line_breaks_stay_one_line_each(self):
        done = run(["-t", "en", "Hello\nworld", "Good morning"])
        self.assertEqual(done.stdout.decode().splitlines(), ["Hello\\nworld", "Good morning"])
        self.assertEqual(done.returncode, 0)

    def test_bytes_that_are_not_utf8_are_sent_as_replacement_characters(self):
        done = subprocess.run(HOST + [b"-t", b"en", b"Guten Morgen\xff"], capture_output=True,
                              env=ENV, timeout=120)
        self.assertEqual(done.stderr, b"")
        self.assertEqual(len(done.stdout.decode().splitlines()), 1)
        done = run(["-t", "en"], stdin="")  # nothing to send
        self.assertEqual(done.returncode, 0)
        done = subprocess.run(HOST + ["-t", "en"], input=b"\xff\xfe\n\xe7\x94\xb5\xe8\x84\x91\n",
                              capture_output=True, env=ENV, timeout=120)
        self.assertEqual(done.stderr, b"")
        self.assertEqual(done.stdout.decode().splitlines()[1], "computer")

    def test_an_agent_that_ends_early_is_reported_without_hanging(self):
        agents = {
            # dies in the middle of its first reply
            "cut": "import sys\nsys.stdin.readline()\nsys.stdout.write('{\"id\":\"0\",\"te')\n",
            # is gone before the host writes anything
            "gone": "",
            # answers the first request and ends
            "short": "import sys\nsys.stdin.readline()\nprint('{\"id\":\"0\",\"text\":\"a\"}')\n",
        }
        with tempfile.TemporaryDirectory() as folder:
            for name, body in agents.items():
                path = os.path.join(folder, name)
                with open(path, "w") as script:
                    script.write("#!" + sys.executable + "\n" + body)
                os.chmod(path, 0o755)
                done = subprocess.run(HOST[:2] + ["--agent", path, "x", "y"], capture_output=True,
                                      env=ENV, timeout=60)
                self.assertEqual(done.returncode, 2, name)
                self.assertEqual(done.stderr.decode(), "translate: agent ended early\n", name)

    def test_a_reader_that_stops_ends_the_host_quietly(self):
        # More answers than a pipe holds, so that the host still writes after the reader stops.
        text = "Good morning " * 400
        host = subprocess.Popen(HOST + ["-t", "en"] + [text] * 40, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=ENV)
        self.assertEqual(host.stdout.readline().decode(), text + "\n")
        host.stdout.close()  # as `| head -1` does
        self.assertNotEqual(host.wait(timeout=60), 0)
        errors = host.stderr.read()
        host.stderr.close()
        self.assertNotIn(b"Traceback", errors)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
