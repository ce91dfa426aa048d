#ifndef HoleSelection_h
#define HoleSelection_h

#include <vtkType.h>

#include <cmath>
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
 * Takes a selection option of the command line with its value into rules:
 * --nodata Z, --below Z, --above Z (Z a finite number, the whole word),
 * --array NAME or --inside FILE. Returns false for any other option; throws
 * the message "OPTION needs a finite number, not 'VALUE'" (a std::string)
 * for a value that is not one.
 */
bool TakeSelectionOption(const std::string& option, const std::string& value, SelectionRules& rules);

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

/**
 * The height rules of rules alone (non-finite, nodata, below, above): sets
 * selected[i] to 1 for each of count heights heightOf(i) that one of them
 * selects, to 0 for the others. single: the heights are floats, and nodata
 * values are compared rounded to float. Does nothing without a height rule.
 */
template <typename HeightOf>
void MarkHeights(const SelectionRules& rules, bool single, vtkIdType count, HeightOf heightOf,
  std::vector<char>& selected)
{
  if (!rules.NonFinite && rules.NoData.empty() && rules.Below.empty() && rules.Above.empty())
  {
    return;
  }
  std::vector<double> noData;
  for (const SelectionRules::Height& h : rules.NoData)
  {
    noData.push_back(single ? static_cast<double>(static_cast<float>(h.Value)) : h.Value);
  }
  for (vtkIdType i = 0; i < count; ++i)
  {
    const double z = heightOf(i);
    bool hit = rules.NonFinite && !std::isfinite(z);
    for (size_t k = 0; !hit && k < noData.size(); ++k)
    {
      hit = z == noData[k];
    }
    for (size_t k = 0; !hit && k < rules.Below.size(); ++k)
    {
      hit = z < rules.Below[k].Value;
    }
    for (size_t k = 0; !hit && k < rules.Above.size(); ++k)
    {
      hit = z > rules.Above[k].Value;
    }
    selected[static_cast<size_t>(i)] = hit ? 1 : 0;
  }
}

/**
 * Marks the vertices listed in the id-list files of rules (count vertices);
 * false with problem naming the file and line of an id out of range or the
 * file that cannot be read.
 */
bool MarkListed(const SelectionRules& rules, vtkIdType count, std::vector<char>& selected,
  std::string& problem);

#endif
