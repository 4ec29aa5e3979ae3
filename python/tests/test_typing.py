"""A real type checker (mypy, strict) over the stubs and the Python examples; and the stubs
catching what a user gets wrong: keyword arguments, a missing argument, a wrong record."""

import os
import subprocess
import tempfile
import textwrap
import unittest

import robot_interface

MYPY = os.environ.get("TORVANE_MYPY", "mypy")
SOURCE = os.environ.get("TORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
STUBS_DIR = os.path.dirname(robot_interface.__file__)  # the build tree: module and stubs


def mypy(*paths, cache):
    done = subprocess.run([MYPY, "--strict", "--python-version", "3.12", "--cache-dir", cache,
                           "--no-error-summary", *paths],
                          env=dict(os.environ, MYPYPATH=STUBS_DIR), capture_output=True,
                          text=True, timeout=300)
    return done.returncode, done.stdout + done.stderr


class Typing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # One cache for both runs: the standard library's stubs are read once.
        cls.tmp = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_stubs_and_examples_check_clean(self):
        status, out = mypy(os.path.join(STUBS_DIR, "robot_interface.pyi"),
                           os.path.join(SOURCE, "examples", "python"),
                           cache=os.path.join(self.tmp.name, "cache"))
        self.assertEqual(status, 0, out)

    def test_misuse_is_caught(self):
        path = os.path.join(self.tmp.name, "misuse.py")
        with open(path, "w") as f:
            f.write(textwrap.dedent("""\
                import robot_interface as ri
                udp = ri.UDP(0xEE, 8080, "127.0.0.1")
                udp2 = ri.UDP(level=0xEE, localPort=8080, targetIP="127.0.0.1", targetPort=8082)
                ri.Safety(ri.Zorvan).PowerProtect(ri.LowCmd(), ri.HighState(), 10)
                ri.HighCmd().velocity = "fast"
                reveal_type(ri.LowState().motorState[0].q)
                """))
        status, out = mypy(path, cache=os.path.join(self.tmp.name, "cache"))
        self.assertNotEqual(status, 0)
        self.assertIn('misuse.py:2: error: No overload variant of "UDP"', out)
        self.assertIn("misuse.py:3: error", out)  # the names are positional-only
        self.assertIn('misuse.py:4: error: Argument 2 to "PowerProtect"', out)
        self.assertIn("misuse.py:5: error", out)
        self.assertIn('misuse.py:6: note: Revealed type is "builtins.float"', out)

    def test_every_parameter_named_and_documented(self):
        with open(os.path.join(SOURCE, "python", "robot_interface.pyi")) as f:
            text = f.read()
        self.assertNotRegex(text, r"\barg\d+:", "a parameter kept its positional name")
        for call in ("def Recv(self) -> int:", "def PowerProtect(self, cmd: LowCmd, state: LowState, "
                     "factor: int, /) -> int:"):
            self.assertIn(call, text)
        self.assertIn('"""Target joint position [rad]."""', text)


if __name__ == "__main__":
    unittest.main()
