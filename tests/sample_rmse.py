"""The root-mean-square error of a repaired bundled sample against its truth.

    sample_rmse.py RESULT SAMPLE_DIR LOW HIGH

Reads RESULT (VTK legacy polydata) with Debian's vtk module and compares the
heights of the inside vertices with truth.txt; exits with status 1 unless the
result has the model's points and cells, keeps every other vertex where it was,
and its error lies between LOW and HIGH.
"""
import os
import sys

import vtk


def read_model(path):
    reader = vtk.vtkPolyDataReader()
    reader.SetFileName(path)
    reader.Update()
    return reader.GetOutput()


def check(result_path, sample, low, high):
    """Returns (rmse, problems): problems lists what is wrong with the result."""
    result = read_model(result_path)
    model = read_model(os.path.join(sample, "model.vtk"))
    problems = []
    if (result.GetNumberOfPoints(), result.GetNumberOfCells()) != (
            model.GetNumberOfPoints(), model.GetNumberOfCells()):
        return None, ["%s has %d points and %d cells, the model %d and %d" % (
            result_path, result.GetNumberOfPoints(), result.GetNumberOfCells(),
            model.GetNumberOfPoints(), model.GetNumberOfCells())]
    truth = {}
    with open(os.path.join(sample, "truth.txt")) as lines:
        for line in lines:
            vertex, height = line.split()
            truth[int(vertex)] = float(height)
    for vertex in range(model.GetNumberOfPoints()):
        before = model.GetPoint(vertex)
        after = result.GetPoint(vertex)
        if before[:2] != after[:2] or (vertex not in truth and before != after):
            problems.append("vertex %d moved from %s to %s" % (vertex, before, after))
            break
    squares = sum((result.GetPoint(v)[2] - z) ** 2 for v, z in truth.items())
    rmse = (squares / len(truth)) ** 0.5
    if not low <= rmse <= high:
        problems.append("RMSE %.3f m against the truth, not within %g .. %g" % (rmse, low, high))
    return rmse, problems


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    rmse, problems = check(sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4]))
    for problem in problems:
        print(problem, file=sys.stderr)
    if rmse is not None:
        print("RMSE %.3f m" % rmse)
    sys.exit(1 if problems else 0)
