"""Repairs the bundled sample with the VTK filter and writes repaired.vtk.

    PYTHONPATH=build/python /usr/bin/python3 examples/repair_sample.py
"""
import os

import vtk
import surface_repair

SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "sample")


def id_list(path):
    """The vertex ids of an id list, one per line."""
    ids = vtk.vtkIdList()
    with open(path) as lines:
        for line in lines:
            ids.InsertNextId(int(line))
    return ids


reader = vtk.vtkPolyDataReader()
reader.SetFileName(os.path.join(SAMPLE, "model.vtk"))
repair = surface_repair.vtkSurfaceRepairFilter()
repair.SetInputConnection(reader.GetOutputPort())
repair.SetInsideIds(id_list(os.path.join(SAMPLE, "inside.pts")))
repair.SetOutsideIds(id_list(os.path.join(SAMPLE, "outside.pts")))
repair.SetRadius(0.12)  # or repair.SetAutoRadius(True)
repair.Update()
if repair.GetOutput().GetNumberOfPoints() == 0:
    raise SystemExit("The repair failed (see the error above)")

writer = vtk.vtkPolyDataWriter()
writer.SetInputConnection(repair.GetOutputPort())
writer.SetFileName("repaired.vtk.part")  # renamed once whole
writer.SetFileTypeToBinary()  # ASCII would round the moved heights
if not writer.Write():
    raise SystemExit("Can not write repaired.vtk")
os.replace("repaired.vtk.part", "repaired.vtk")
print("Radius %g: repaired.vtk written" % repair.GetChosenRadius())
