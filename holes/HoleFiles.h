#ifndef HoleFiles_h
#define HoleFiles_h

#include <vtkSmartPointer.h>
#include <vtkType.h>

#include <string>
#include <vector>

class vtkPolyData;

/**
 * Files that are written all or not at all. Each file's contents are formed
 * in memory first (Add); Commit then writes every one to a temporary file
 * beside its path, flushes it to disk and only when all of them are complete
 * renames them onto their paths. A failure removes the temporary files and
 * leaves every existing file untouched.
 */
class StagedFiles
{
public:
  void Add(const std::string& path, std::string contents);

  /// Writes the files; false with failed naming the file that could not be written.
  bool Commit(std::string& failed);

private:
  std::vector<std::pair<std::string, std::string>> Files;
};

/// An id list in the format surface_repair reads: one id per line.
std::string IdListText(const std::vector<vtkIdType>& ids);

/// The ids i with flags[i] != 0, ascending.
std::vector<vtkIdType> FlaggedIds(const std::vector<char>& flags);

/**
 * A copy of model in which the heights of the flagged vertices are NaN, all
 * else unchanged (cells, point and cell data). Points that are not stored as
 * float or double become float: integers hold no NaN.
 */
vtkSmartPointer<vtkPolyData> ModelWithVoids(vtkPolyData* model, const std::vector<char>& flags);

/**
 * The model as a binary VTK legacy file (file version 4.2), which keeps every
 * value exactly and holds NaN heights, which VTK's ASCII reader cannot read
 * back. Empty if VTK cannot write it.
 */
std::string BinaryModelText(vtkPolyData* model);

#endif
