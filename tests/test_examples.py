"""The Python example, run by ctest with Debian's interpreter:

    test_examples.py <source directory>

examples/repair_sample.py run as a user runs it (from another directory,
with the package of this build on PYTHONPATH) must write a whole repair of the
bundled sample, and the README must show it as it is.
"""
import os
import subprocess
import sys
import tempfile
import unittest

import sample_rmse

SOURCE = None
# At R = 0.12 a double-precision fit of the same spline lands at 16.5 m; the
# jitter of at most 1/60 m moves the error by less than 0.02 m, and R = 0.1 or
# auto's 0.0978 give 16.2 m.
LOW, HIGH = 16.35, 16.75


class PythonExampleTest(unittest.TestCase):
    def test_example_repairs_the_sample(self):
        example = os.path.join(SOURCE, "examples", "repair_sample.py")
        with tempfile.TemporaryDirectory() as work:
            env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
            run = subprocess.run([sys.executable, example], cwd=work, env=env,
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout, "Radius 0.12: repaired.vtk written\n")
            self.assertEqual(sorted(os.listdir(work)), ["repaired.vtk"])
            rmse, problems = sample_rmse.check(os.path.join(work, "repaired.vtk"),
                                               os.path.join(SOURCE, "data", "sample"), LOW, HIGH)
            self.assertEqual(problems, [])

    def test_readme_shows_the_example_verbatim(self):
        with open(os.path.join(SOURCE, "examples", "repair_sample.py"), encoding="utf-8") as f:
            example = f.read()
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        self.assertIn("```python\n" + example + "```\n", readme)


if __name__ == "__main__":
    SOURCE = sys.argv.pop(1)
    unittest.main()
