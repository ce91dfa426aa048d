#ifndef HoleSelection_h
#define HoleSelection_h

#include <string>
#include <vector>

class vtkPolyData;

/**
 * The rules that select the inside vertices of a model: the damaged or
 * missing part to be filled. A vertex is selected when any rule selects it.
 */
struct SelectionRules
{
  /// A height threshold as given on the command line: its value and its text.
  struct Height
  {
    double Value;
    std::string Text;
  };

  bool NonFinite = false;          ///< heights that are not finite (NaN, inf)
  std::vector<Height> NoData;      ///< heights equal to a nodata value
  std::vector<Height> Below;       ///< heights below a value
  std::vector<Height> Above;       ///< heights above a value
  std::vector<std::string> Arrays; ///< point-data arrays: non-zero values
  std::vector<std::string> Lists;  ///< point-id list files

  /// True when no rule is given.
  bool Empty() const;

  /**
   * What a selected vertex is, for messages: "has a height that is not
   * finite or has the height -9999", ...
   */
  std::string Describe() const;
};

/**
 * Marks the vertices of model that the rules select: selected[i] is 1 for a
 * selected vertex, 0 otherwise. Heights are compared in the precision of the
 * model's points (a float model's heights with the value rounded to float).
 * An array's value is non-zero when any of its components is. Returns false
 * with problem naming the culprit (an unknown array, an unreadable list, an
 * id the model does not have); name stands for the model in messages.
 */
bool SelectVertices(vtkPolyData* model, const char* name, const SelectionRules& rules,
  std::vector<char>& selected, std::string& problem);

#endif
