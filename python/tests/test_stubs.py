"""The committed stubs describe the live module: every class, member, overload and enumerator,
nothing missing and nothing extra."""

import ast
import os
import sys
import unittest

import robot_interface

SOURCE = os.environ.get("TORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "python"))
import stubs  # noqa: E402


def stub_surface(path):
    tree = ast.parse(open(path).read())
    classes, names = {}, set()
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names.add(node.name)
            members = {}
            for item in node.body:
                if isinstance(item, ast.AnnAssign):
                    target = item.target.id
                    members[target] = "property" if target == "__members__" else "enumerator"
                elif isinstance(item, ast.FunctionDef):
                    decorators = [ast.unparse(d) for d in item.decorator_list]
                    if "property" in decorators or any(d.endswith(".setter") for d in decorators):
                        members[item.name] = "property"
                    else:
                        kind, _, count = members.get(item.name, "method/0").partition("/")
                        members[item.name] = f"method/{int(count) + 1}"
            classes[node.name] = members
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
    return classes, names


class Stubs(unittest.TestCase):
    def test_stubs_match_the_module(self):
        live_classes, live_names = stubs.surface(robot_interface)
        stub_classes, stub_names = stub_surface(os.path.join(SOURCE, "python", "robot_interface.pyi"))
        self.assertEqual(stub_names, live_names)
        self.assertEqual(set(stub_classes), set(live_classes))
        for name, members in live_classes.items():
            self.assertEqual(stub_classes[name], members, name)

    def test_stubs_are_current(self):
        with open(os.path.join(SOURCE, "python", "robot_interface.pyi")) as f:
            self.assertEqual(f.read(), stubs.render(robot_interface),
                             "regenerate with python/stubs.py")

    def test_installed_beside_the_module(self):
        here = os.path.dirname(robot_interface.__file__)
        self.assertTrue(os.path.exists(os.path.join(here, "robot_interface.pyi")))
        # A py.typed marker means something only inside a package; the installed stubs are a
        # stub-only package (the install test checks it).
        self.assertFalse(os.path.exists(os.path.join(here, "py.typed")))


if __name__ == "__main__":
    unittest.main()
