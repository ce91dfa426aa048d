# The CMake package of the surface repair, installed with the filter:
#
#   find_package(SurfaceRepair REQUIRED)
#   target_link_libraries(app PRIVATE SurfaceRepair::Filter)
#
# SurfaceRepair::Filter is the repair as a VTK filter (vtkSurfaceRepairFilter.h),
# a shared library built against VTK 9, which this package finds as well.
include(CMakeFindDependencyMacro)
find_dependency(VTK 9 COMPONENTS CommonCore CommonDataModel CommonTransforms
  CommonExecutionModel FiltersGeneral)

include("${CMAKE_CURRENT_LIST_DIR}/SurfaceRepair-targets.cmake")

# The module properties VTK's module functions read (vtk_module_autoinit and
# the wrappers).
include("${CMAKE_CURRENT_LIST_DIR}/SurfaceRepair-vtk-module-properties.cmake")
