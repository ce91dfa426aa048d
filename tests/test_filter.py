"""The Python package surface_repair, run by ctest with Debian's interpreter:

    test_filter.py <surface_repair executable> <sample directory> [<surface_fill executable>]

The bundled sample repaired in memory against the program's result file, and
a bad input that is reported without a crash; the void fill in memory against
surface_fill's result file.
"""
import os
import subprocess
import sys
import tempfile
import unittest

import surface_repair
import vtk

PROGRAM = SAMPLE = FILL = None
JITTER = 1.0 / 60.0 + 1e-4  # half width of the jitter, and float rounding


def id_list(path):
    ids = vtk.vtkIdList()
    with open(path) as lines:
        for line in lines:
            ids.InsertNextId(int(line))
    return ids


def read_model(path):
    reader = vtk.vtkPolyDataReader()
    reader.SetFileName(path)
    reader.Update()
    return reader


def error_messages(algorithm):
    """The list the error reports of algorithm go into."""
    messages = []

    @vtk.calldata_type(vtk.VTK_STRING)
    def on_error(caller, event, text):
        messages.append(text)

    algorithm.AddObserver("ErrorEvent", on_error)
    return messages


def sample_filter(reader):
    repair = surface_repair.vtkSurfaceRepairFilter()
    repair.SetInputConnection(reader.GetOutputPort())
    repair.SetInsideIds(id_list(os.path.join(SAMPLE, "inside.pts")))
    repair.SetOutsideIds(id_list(os.path.join(SAMPLE, "outside.pts")))
    repair.SetRadius(0.12)
    return repair


class SurfaceRepairFilterTest(unittest.TestCase):
    def test_sample_equals_the_programs_result_within_the_jitter(self):
        with tempfile.TemporaryDirectory() as work:
            env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
            subprocess.run([PROGRAM] + [os.path.join(SAMPLE, name) for name in
                ("model.vtk", "inside.pts", "outside.pts")] + ["0.12"],
                cwd=work, env=env, check=True, stdout=subprocess.DEVNULL)
            expected = read_model(os.path.join(work, "reconstucted_shape.vtk")).GetOutput()

        repair = sample_filter(read_model(os.path.join(SAMPLE, "model.vtk")))
        repair.JitterOff()
        repair.Update()
        result = repair.GetOutput()
        self.assertAlmostEqual(repair.GetChosenRadius(), 0.12, places=6)
        self.assertEqual(result.GetNumberOfPoints(), expected.GetNumberOfPoints())
        self.assertEqual(result.GetNumberOfCells(), expected.GetNumberOfCells())
        for i in range(result.GetNumberOfPoints()):
            p = result.GetPoint(i)
            q = expected.GetPoint(i)
            self.assertEqual(p[:2], q[:2], "point %d" % i)
            self.assertLessEqual(abs(p[2] - q[2]), JITTER, "point %d" % i)

    def test_bad_input_is_reported_without_a_crash(self):
        repair = sample_filter(read_model(os.path.join(SAMPLE, "model.vtk")))
        repair.GetOutsideIds().InsertNextId(10000)
        messages = error_messages(repair)
        repair.Update()
        self.assertEqual(repair.GetOutput().GetNumberOfPoints(), 0)
        self.assertEqual(repair.GetChosenRadius(), 0.0)
        self.assertEqual(len(messages), 1, messages)
        self.assertIn("Vertex id 10000 at position 726 of the outside ids is out of range "
                      "(the model has 10000 points)", messages[0])


class SurfaceFillFilterTest(unittest.TestCase):
    """The sample's damaged region as a mask array, filled in memory."""

    def masked_sample(self):
        reader = read_model(os.path.join(SAMPLE, "model.vtk"))
        model = vtk.vtkPolyData()
        model.DeepCopy(reader.GetOutput())
        mask = vtk.vtkUnsignedCharArray()
        mask.SetName("damaged")
        mask.SetNumberOfTuples(model.GetNumberOfPoints())
        mask.Fill(0)
        inside = id_list(os.path.join(SAMPLE, "inside.pts"))
        for k in range(inside.GetNumberOfIds()):
            mask.SetValue(inside.GetId(k), 1)
        model.GetPointData().AddArray(mask)
        return model, inside

    @unittest.skipUnless(FILL or len(sys.argv) > 3, "surface_fill not given")
    def test_mask_fill_equals_surface_fill(self):
        model, inside = self.masked_sample()
        fill = surface_repair.vtkSurfaceFillFilter()
        fill.SetInputData(model)
        fill.SetMaskArray("damaged")
        fill.SetThreads(2)
        fill.Update()
        self.assertEqual(fill.GetNumberOfVoids(), 1)
        self.assertEqual(fill.GetNumberOfFilledVoids(), 1)
        self.assertIn(",filled", fill.GetReport())
        result = fill.GetOutput()
        with tempfile.TemporaryDirectory() as work:
            out = os.path.join(work, "filled.vtk")
            subprocess.run([FILL, "-q", "--inside", os.path.join(SAMPLE, "inside.pts"),
                            os.path.join(SAMPLE, "model.vtk"), out],
                           check=True, stdout=subprocess.DEVNULL)
            expected = read_model(out).GetOutput()
        moved = set(inside.GetId(k) for k in range(inside.GetNumberOfIds()))
        for i in range(result.GetNumberOfPoints()):
            p, q, source = result.GetPoint(i), expected.GetPoint(i), model.GetPoint(i)
            self.assertEqual(p, q, "point %d" % i)
            if i not in moved:
                self.assertEqual(p, source, "point %d is not in the void" % i)
        self.assertEqual(result.GetNumberOfCells(), model.GetNumberOfCells())
        self.assertIsNotNone(result.GetPointData().GetArray("damaged"))

    def test_unknown_mask_array_is_reported(self):
        model, _ = self.masked_sample()
        fill = surface_repair.vtkSurfaceFillFilter()
        fill.SetInputData(model)
        fill.SetMaskArray("no such array")
        messages = error_messages(fill)
        fill.Update()
        self.assertEqual(fill.GetOutput().GetNumberOfPoints(), 0)
        self.assertEqual(len(messages), 1, messages)
        self.assertIn("no point-data array no such array", messages[0])


if __name__ == "__main__":
    PROGRAM, SAMPLE = sys.argv[1], sys.argv[2]
    FILL = sys.argv[3] if len(sys.argv) > 3 else None
    unittest.main(argv=sys.argv[:1], verbosity=2)
