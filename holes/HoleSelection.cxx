#include "HoleSelection.h"

#include "PointIdFile.h"

#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

bool SelectionRules::Empty() const
{
  return !this->NonFinite && this->NoData.empty() && this->Below.empty() &&
    this->Above.empty() && this->Arrays.empty() && this->Lists.empty();
}

std::string SelectionRules::Describe() const
{
  std::vector<std::string> parts;
  if (this->NonFinite)
  {
    parts.push_back("has a height that is not finite");
  }
  for (const Height& h : this->NoData)
  {
    parts.push_back("has the height " + h.Text);
  }
  for (const Height& h : this->Below)
  {
    parts.push_back("has a height below " + h.Text);
  }
  for (const Height& h : this->Above)
  {
    parts.push_back("has a height above " + h.Text);
  }
  for (const std::string& name : this->Arrays)
  {
    parts.push_back("has a non-zero value in array " + name);
  }
  for (const std::string& path : this->Lists)
  {
    parts.push_back("is listed in " + path);
  }
  std::string text;
  for (size_t k = 0; k < parts.size(); ++k)
  {
    text += (k > 0 ? " or " : "") + parts[k];
  }
  return text;
}

bool TakeSelectionOption(const std::string& option, const std::string& value, SelectionRules& rules)
{
  std::vector<SelectionRules::Height>* heights = option == "--nodata" ? &rules.NoData
    : option == "--below"                                          ? &rules.Below
    : option == "--above"                                          ? &rules.Above
                                                                   : nullptr;
  if (heights)
  {
    char* end = nullptr;
    const double number = strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(number))
    {
      throw option + " needs a finite number, not '" + value + "'";
    }
    heights->push_back({ number, value });
    return true;
  }
  if (option == "--array")
  {
    rules.Arrays.push_back(value);
    return true;
  }
  if (option == "--inside")
  {
    rules.Lists.push_back(value);
    return true;
  }
  return false;
}

namespace
{
// Marks the vertices at which array holds a non-zero value.
void SelectByArray(vtkDataArray* array, std::vector<char>& selected)
{
  const vtkIdType n = static_cast<vtkIdType>(selected.size());
  const int width = array->GetNumberOfComponents();
  for (vtkIdType i = 0; i < n; ++i)
  {
    for (int c = 0; c < width; ++c)
    {
      if (array->GetComponent(i, c) != 0.0)
      {
        selected[static_cast<size_t>(i)] = 1;
        break;
      }
    }
  }
}

// The point-data arrays of model by name, for the message on an unknown one.
std::string ArrayNames(vtkPolyData* model)
{
  vtkPointData* data = model->GetPointData();
  std::string names;
  for (int k = 0; data && k < data->GetNumberOfArrays(); ++k)
  {
    if (data->GetArray(k) && data->GetArrayName(k))
    {
      names += (names.empty() ? "" : ", ") + std::string(data->GetArrayName(k));
    }
  }
  return names.empty() ? "it has none" : "it has " + names;
}

// Marks the vertices listed in the id-list file path.
bool SelectByList(const std::string& path, vtkIdType count, std::vector<char>& selected,
  std::string& problem)
{
  std::vector<PointIdEntry> ids;
  if (!ReadPointIdFile(path.c_str(), ids))
  {
    problem = "Can not read the inside list " + path;
    return false;
  }
  for (const PointIdEntry& entry : ids)
  {
    if (entry.Id < 0 || entry.Id >= count)
    {
      std::ostringstream text;
      text << "Vertex id " << entry.Id << " on line " << entry.Line << " of " << path
           << " is out of range (the model has " << count << " points)";
      problem = text.str();
      return false;
    }
    selected[static_cast<size_t>(entry.Id)] = 1;
  }
  return true;
}
} // namespace

bool SelectVertices(vtkPolyData* model, const char* name, const SelectionRules& rules,
  std::vector<char>& selected, std::string& problem)
{
  vtkPoints* points = model->GetPoints();
  const vtkIdType count = points ? points->GetNumberOfPoints() : 0;
  selected.assign(static_cast<size_t>(count), 0);

  // Heights: one pass for all height rules.
  MarkHeights(rules, points && points->GetDataType() == VTK_FLOAT, count,
    [points](vtkIdType i) { return points->GetPoint(i)[2]; }, selected);

  for (const std::string& arrayName : rules.Arrays)
  {
    vtkDataArray* array = model->GetPointData() ? model->GetPointData()->GetArray(arrayName.c_str())
                                                : nullptr;
    if (array == nullptr || array->GetNumberOfTuples() < count)
    {
      problem = std::string("Model ") + name + " has no point-data array " + arrayName + " (" +
        ArrayNames(model) + ")";
      return false;
    }
    SelectByArray(array, selected);
  }

  return MarkListed(rules, count, selected, problem);
}

bool MarkListed(const SelectionRules& rules, vtkIdType count, std::vector<char>& selected,
  std::string& problem)
{
  for (const std::string& path : rules.Lists)
  {
    if (!SelectByList(path, count, selected, problem))
    {
      return false;
    }
  }
  return true;
}
