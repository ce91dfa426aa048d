#include "VoidFill.h"

#include "Console.h"
#include "NormalisedFrame.h"
#include "RadiusChooser.h"
#include "RepairRun.h"

#include <vtkDoubleArray.h>
#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkMath.h>
#include <vtkPolyData.h>
#include <vtkStaticPointLocator.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>

const char* StatusName(VoidStatus status)
{
  switch (status)
  {
    case VoidStatus::Filled:
      return "filled";
    case VoidStatus::NoRing:
      return "no ring";
    case VoidStatus::OutOfReach:
      return "out of reach";
    case VoidStatus::Refused:
      return "refused";
    case VoidStatus::Failed:
      return "failed";
    case VoidStatus::Skipped:
      return "skipped";
  }
  return "failed";
}

std::string ReportText(const FillSummary& summary)
{
  std::ostringstream text;
  text.precision(9);
  text << "id,group,vertices,extent_x,extent_y,reach,border,ring_points,radius,model_radius,"
          "seconds,status\n";
  for (const VoidRecord& v : summary.Voids)
  {
    text << v.Id << "," << v.Group << "," << v.Vertices << "," << v.Extent[0] << "," << v.Extent[1]
         << "," << v.Reach << "," << (v.Border ? 1 : 0) << "," << v.RingPoints << "," << v.Radius
         << "," << v.ModelRadius << "," << v.Seconds << "," << StatusName(v.Status) << "\n";
  }
  return text.str();
}

namespace
{
// A group of voids repaired together: its voids (indices into the records),
// its vertices and its ring, both ascending.
struct Group
{
  std::vector<size_t> Voids;
  std::vector<vtkIdType> Inside;
  std::vector<vtkIdType> Ring;
};

// Union-find over the voids; the root of a set is its smallest void.
struct VoidSets
{
  explicit VoidSets(size_t n)
    : Parent(n)
  {
    std::iota(this->Parent.begin(), this->Parent.end(), size_t{ 0 });
  }
  size_t Find(size_t k)
  {
    while (this->Parent[k] != k)
    {
      this->Parent[k] = this->Parent[this->Parent[k]];
      k = this->Parent[k];
    }
    return k;
  }
  void Unite(size_t a, size_t b)
  {
    a = this->Find(a);
    b = this->Find(b);
    this->Parent[std::max(a, b)] = std::min(a, b);
  }
  std::vector<size_t> Parent;
};

// The voids: connected components of the selected vertices, numbered in the
// order of their lowest vertex. label[v] is the void of a selected vertex.
// Returns the vertices of each void, ascending.
std::vector<std::vector<vtkIdType>> LabelVoids(const HeightField& field,
  const std::vector<char>& selected, std::vector<std::int32_t>& label,
  std::vector<VoidRecord>& records)
{
  const vtkIdType n = field.GetNumberOfVertices();
  std::vector<std::vector<vtkIdType>> voids;
  std::vector<vtkIdType> stack;
  std::vector<vtkIdType> neighbours;
  for (vtkIdType seed = 0; seed < n; ++seed)
  {
    if (!selected[static_cast<size_t>(seed)] || label[static_cast<size_t>(seed)] >= 0)
    {
      continue;
    }
    const std::int32_t id = static_cast<std::int32_t>(voids.size());
    std::vector<vtkIdType> members;
    label[static_cast<size_t>(seed)] = id;
    stack.assign(1, seed);
    while (!stack.empty())
    {
      const vtkIdType v = stack.back();
      stack.pop_back();
      members.push_back(v);
      neighbours.clear();
      field.AppendNeighbours(v, neighbours);
      for (vtkIdType w : neighbours)
      {
        if (selected[static_cast<size_t>(w)] && label[static_cast<size_t>(w)] < 0)
        {
          label[static_cast<size_t>(w)] = id;
          stack.push_back(w);
        }
      }
    }
    std::sort(members.begin(), members.end());
    VoidRecord record;
    record.Id = static_cast<vtkIdType>(voids.size()) + 1;
    record.FirstVertex = members.front();
    record.Vertices = static_cast<vtkIdType>(members.size());
    double box[4] = { HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL };
    for (vtkIdType v : members)
    {
      double p[3];
      field.GetPoint(v, members.front(), p);
      box[0] = std::min(box[0], p[0]);
      box[1] = std::max(box[1], p[0]);
      box[2] = std::min(box[2], p[1]);
      box[3] = std::max(box[3], p[1]);
      record.Border = record.Border || field.OnBorder(v);
    }
    record.Extent[0] = box[1] - box[0];
    record.Extent[1] = box[3] - box[2];
    records.push_back(record);
    voids.push_back(std::move(members));
  }
  return voids;
}

// The ring of one void: the unselected vertices within rings edge-steps of
// it that have finite heights; the voids its steps meet are united with it.
// label[v] of an unselected vertex is -2 - the last void whose search reached
// it (-1: none yet).
std::vector<vtkIdType> RingOf(const HeightField& field, const std::vector<char>& selected,
  std::vector<std::int32_t>& label, size_t id, const std::vector<vtkIdType>& members, int rings,
  VoidSets& sets)
{
  const std::int32_t stamp = -2 - static_cast<std::int32_t>(id);
  std::vector<vtkIdType> ring;
  std::vector<vtkIdType> front = members;
  std::vector<vtkIdType> next;
  std::vector<vtkIdType> neighbours;
  for (int step = 0; step < rings && !front.empty(); ++step)
  {
    next.clear();
    for (vtkIdType v : front)
    {
      neighbours.clear();
      field.AppendNeighbours(v, neighbours);
      for (vtkIdType w : neighbours)
      {
        const size_t k = static_cast<size_t>(w);
        if (selected[k])
        {
          if (label[k] != static_cast<std::int32_t>(id))
          {
            sets.Unite(id, static_cast<size_t>(label[k]));
          }
        }
        else if (label[k] != stamp)
        {
          label[k] = stamp;
          next.push_back(w);
        }
      }
    }
    for (vtkIdType w : next)
    {
      double p[3];
      field.GetPoint(w, w, p);
      if (std::isfinite(p[2]))
      {
        ring.push_back(w);
      }
    }
    front.swap(next);
  }
  std::sort(ring.begin(), ring.end());
  return ring;
}

// The groups: the voids whose rings meet another void joined, each with the
// union of its voids' vertices and rings. Voids in the order of their first
// vertex, groups in the order of their first void.
// voids receives each void's vertices.
std::vector<Group> GroupVoids(const HeightField& field, const std::vector<char>& selected,
  int rings, std::vector<VoidRecord>& records, std::vector<std::vector<vtkIdType>>& voids)
{
  const size_t n = static_cast<size_t>(field.GetNumberOfVertices());
  std::vector<std::int32_t> label(n, -1);
  voids = LabelVoids(field, selected, label, records);
  VoidSets sets(voids.size());
  std::vector<std::vector<vtkIdType>> ringOf(voids.size());
  for (size_t k = 0; k < voids.size(); ++k)
  {
    ringOf[k] = RingOf(field, selected, label, k, voids[k], rings, sets);
  }
  std::vector<Group> groups;
  std::vector<size_t> groupOfRoot(voids.size(), std::numeric_limits<size_t>::max());
  for (size_t k = 0; k < voids.size(); ++k)
  {
    const size_t root = sets.Find(k);
    if (groupOfRoot[root] == std::numeric_limits<size_t>::max())
    {
      groupOfRoot[root] = groups.size();
      groups.emplace_back();
    }
    Group& group = groups[groupOfRoot[root]];
    group.Voids.push_back(k);
    records[k].Group = records[root].Id;
    group.Inside.insert(group.Inside.end(), voids[k].begin(), voids[k].end());
    group.Ring.insert(group.Ring.end(), ringOf[k].begin(), ringOf[k].end());
  }
  for (Group& group : groups)
  {
    std::sort(group.Inside.begin(), group.Inside.end());
    std::sort(group.Ring.begin(), group.Ring.end());
    group.Ring.erase(std::unique(group.Ring.begin(), group.Ring.end()), group.Ring.end());
  }
  return groups;
}

// The window of a group: its field ids (ascending), its points as a
// polydata (x and y relative to its first vertex, every selected vertex a
// void: NaN), and the group's vertices and ring in window numbering.
struct GroupWindow
{
  std::vector<vtkIdType> Ids;
  vtkSmartPointer<vtkPolyData> Model;
  std::vector<vtkIdType> Inside;
  std::vector<vtkIdType> Ring;

  /// Positions of the field ids in the window.
  std::vector<vtkIdType> Local(const std::vector<vtkIdType>& ids) const
  {
    std::vector<vtkIdType> local(ids.size());
    std::transform(ids.begin(), ids.end(), local.begin(), [this](vtkIdType v) {
      return static_cast<vtkIdType>(
        std::lower_bound(this->Ids.begin(), this->Ids.end(), v) - this->Ids.begin());
    });
    return local;
  }
};

GroupWindow WindowOf(const HeightField& field, const std::vector<char>& selected,
  const Group& group, double margin)
{
  GroupWindow window;
  std::vector<vtkIdType> both(group.Inside);
  both.insert(both.end(), group.Ring.begin(), group.Ring.end());
  field.Window(both, margin, window.Ids);

  vtkNew<vtkPoints> points;
  points->SetDataTypeToDouble();
  points->SetNumberOfPoints(static_cast<vtkIdType>(window.Ids.size()));
  double* xyz = vtkDoubleArray::FastDownCast(points->GetData())->GetPointer(0);
  for (size_t k = 0; k < window.Ids.size(); ++k)
  {
    field.GetPoint(window.Ids[k], window.Ids.front(), xyz + 3 * k);
    if (selected[static_cast<size_t>(window.Ids[k])])
    {
      xyz[3 * k + 2] = std::numeric_limits<double>::quiet_NaN();
    }
  }
  window.Model = vtkSmartPointer<vtkPolyData>::New();
  window.Model->SetPoints(points);
  window.Inside = window.Local(group.Inside);
  window.Ring = window.Local(group.Ring);
  return window;
}

vtkSmartPointer<vtkIdList> IdList(const std::vector<vtkIdType>& ids)
{
  auto list = vtkSmartPointer<vtkIdList>::New();
  list->SetNumberOfIds(static_cast<vtkIdType>(ids.size()));
  std::copy(ids.begin(), ids.end(), list->GetPointer(0));
  return list;
}

// The largest distance from a vertex of inside to its nearest point of ring,
// in the x-y plane of the model's points: model units, or with frame the
// normalised frame of the model's bounds (as the reader places points).
double Reach(vtkPolyData* model, const std::vector<vtkIdType>& inside,
  const std::vector<vtkIdType>& ring, bool frame)
{
  double b[6] = { 0.0, 1.0, 0.0, 1.0, 0.0, 0.0 };
  if (frame)
  {
    FrameBounds(model->GetPoints(), b);
  }
  auto place = [&](vtkIdType v, double q[2]) {
    double p[3];
    model->GetPoint(v, p);
    if (frame)
    {
      q[0] = Normalised(static_cast<float>(p[0]), static_cast<float>(b[0]), static_cast<float>(b[1]));
      q[1] = Normalised(static_cast<float>(p[1]), static_cast<float>(b[2]), static_cast<float>(b[3]));
    }
    else
    {
      q[0] = p[0];
      q[1] = p[1];
    }
  };
  vtkNew<vtkPoints> ringAt;
  ringAt->SetDataTypeToDouble();
  ringAt->SetNumberOfPoints(static_cast<vtkIdType>(ring.size()));
  for (size_t k = 0; k < ring.size(); ++k)
  {
    double q[3] = { 0.0, 0.0, 0.0 };
    place(ring[k], q);
    ringAt->SetPoint(static_cast<vtkIdType>(k), q);
  }
  vtkNew<vtkPolyData> cloud;
  cloud->SetPoints(ringAt);
  vtkNew<vtkStaticPointLocator> locator;
  locator->SetDataSet(cloud);
  locator->BuildLocator();
  double farthest = 0.0;
  for (vtkIdType v : inside)
  {
    double q[3] = { 0.0, 0.0, 0.0 };
    place(v, q);
    double nearest[3];
    ringAt->GetPoint(locator->FindClosestPoint(q), nearest);
    farthest = std::max(farthest, vtkMath::Distance2BetweenPoints(q, nearest));
  }
  return std::sqrt(farthest);
}

// What one group's repair gives.
struct GroupOutcome
{
  VoidStatus Status = VoidStatus::Failed;
  std::string Message;
  double Radius = 0.0;
  std::vector<double> Heights; // of the group's vertices, when filled
};

// Repairs one group on its window with the program's stages.
GroupOutcome RepairWindow(const GroupWindow& window, const FillOptions& options)
{
  GroupOutcome outcome;
  const vtkSmartPointer<vtkIdList> inside = IdList(window.Inside); // the run borrows both
  const vtkSmartPointer<vtkIdList> ring = IdList(window.Ring);
  RepairRun run(window.Model, inside, ring, static_cast<float>(options.Radius));
  bool guarding = false; // a refusal now is the guard's or the chooser's
  try
  {
    run.ReadConstraints();
    run.CheckInside();
    guarding = true;
    if (!(options.Radius > 0.0))
    {
      run.ChooseRadiusFromData();
    }
    else if (Reach(window.Model, window.Inside, window.Ring, true) >= static_cast<float>(options.Radius))
    {
      outcome.Status = VoidStatus::OutOfReach;
      outcome.Message = "the radius does not reach every vertex from the ring";
      return outcome;
    }
    run.CheckCost();
    guarding = false;
    run.PrepareSystem();
    run.Solve();
    vtkNew<vtkPolyData> result;
    run.Move(options.Jitter, result);
    for (vtkIdType v : window.Inside)
    {
      outcome.Heights.push_back(result->GetPoint(v)[2]);
    }
    outcome.Status = VoidStatus::Filled;
  }
  catch (const RepairFailure& failure)
  {
    outcome.Status = guarding ? VoidStatus::Refused : VoidStatus::Failed;
    outcome.Message = failure.Text;
  }
  outcome.Radius = run.GetRadius();
  return outcome;
}

// Repairs a group and writes what became of it into its voids' records
// (and the heights into the field, when filled). Reads only unselected
// vertices of the field.
void FillGroup(HeightField& field, const std::vector<char>& selected, const Group& group,
  const std::vector<std::vector<vtkIdType>>& voidVertices, const FillOptions& options,
  std::vector<VoidRecord>& records)
{
  const auto start = std::chrono::steady_clock::now();
  GroupOutcome outcome;
  std::vector<double> reach(group.Voids.size(), 0.0);
  double width = 0.0; // of the window, model units
  if (group.Ring.empty())
  {
    outcome.Status = VoidStatus::NoRing;
    outcome.Message = "no vertex with a finite height around it";
  }
  else
  {
    const GroupWindow window = WindowOf(field, selected, group, options.Margin);
    for (size_t j = 0; j < group.Voids.size(); ++j)
    {
      reach[j] = Reach(window.Model, window.Local(voidVertices[group.Voids[j]]), window.Ring, false);
    }
    double b[6];
    FrameBounds(window.Model->GetPoints(), b);
    width = b[1] - b[0];
    outcome = RepairWindow(window, options);
  }
  if (outcome.Status == VoidStatus::Filled)
  {
    for (size_t k = 0; k < group.Inside.size(); ++k)
    {
      field.SetHeight(group.Inside[k], outcome.Heights[k]);
    }
  }
  const double seconds =
    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (size_t j = 0; j < group.Voids.size(); ++j)
  {
    VoidRecord& record = records[group.Voids[j]];
    record.Status = outcome.Status;
    record.Message = outcome.Message;
    record.Radius = outcome.Radius;
    record.ModelRadius = outcome.Radius * width;
    record.RingPoints = static_cast<vtkIdType>(group.Ring.size());
    record.Seconds = seconds;
    record.Reach = reach[j];
  }
}

// The groups in the order they are handed out: the largest first, so that
// the threads end together.
std::vector<size_t> WorkOrder(const std::vector<Group>& groups)
{
  std::vector<size_t> order(groups.size());
  std::iota(order.begin(), order.end(), size_t{ 0 });
  std::stable_sort(order.begin(), order.end(),
    [&](size_t a, size_t b) { return groups[a].Inside.size() > groups[b].Inside.size(); });
  return order;
}

// True when the group holds one of the (ascending) seeds.
bool Seeded(const Group& group, const std::vector<vtkIdType>& seeds)
{
  for (vtkIdType v : group.Inside)
  {
    if (std::binary_search(seeds.begin(), seeds.end(), v))
    {
      return true;
    }
  }
  return false;
}
} // namespace

//------------------------------------------------------------------------------
FillSummary FillVoids(HeightField& field, const std::vector<char>& selected,
  const FillOptions& options, const FillProgress& progress)
{
  FillSummary summary;
  std::vector<std::vector<vtkIdType>> voidVertices; // each void's own, for its reach
  std::vector<Group> groups =
    GroupVoids(field, selected, std::max(options.Rings, 1), summary.Voids, voidVertices);
  summary.Groups = static_cast<vtkIdType>(groups.size());
  std::vector<vtkIdType> seeds(options.Seeds);
  std::sort(seeds.begin(), seeds.end());

  const std::vector<size_t> order = WorkOrder(groups);
  std::atomic<size_t> next{ 0 };
  std::mutex lock;
  size_t done = 0;
  std::exception_ptr failure;
  auto work = [&]() {
    const QuietReports quiet;
    const ChooseOnOneThread oneThread; // the pool's threads are the cores

    for (size_t at = next++; at < order.size(); at = next++)
    {
      const Group& group = groups[order[at]];
      try
      {
        if (!seeds.empty() && !Seeded(group, seeds))
        {
          for (size_t k : group.Voids)
          {
            summary.Voids[k].Status = VoidStatus::Skipped;
          }
        }
        else
        {
          FillGroup(field, selected, group, voidVertices, options, summary.Voids);
        }
      }
      catch (...)
      {
        std::lock_guard<std::mutex> guard(lock);
        failure = std::current_exception();
        next = order.size();
      }
      std::lock_guard<std::mutex> guard(lock);
      ++done;
      if (progress)
      {
        progress(static_cast<vtkIdType>(done), static_cast<vtkIdType>(order.size()));
      }
    }
  };
  int threads = options.Threads > 0 ? options.Threads
                                    : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = static_cast<int>(std::min<size_t>(static_cast<size_t>(threads), std::max<size_t>(order.size(), 1)));
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t)
  {
    pool.emplace_back(work);
  }
  work();
  for (std::thread& t : pool)
  {
    t.join();
  }
  if (failure)
  {
    std::rethrow_exception(failure);
  }
  for (const VoidRecord& record : summary.Voids)
  {
    if (record.Status == VoidStatus::Filled)
    {
      ++summary.FilledVoids;
      summary.MovedVertices += record.Vertices;
    }
  }
  return summary;
}

//------------------------------------------------------------------------------
WindowModel BuildWindowModel(const HeightField& field, const std::vector<char>& selected,
  const std::vector<vtkIdType>& group, const FillOptions& options)
{
  std::vector<VoidRecord> records;
  std::vector<std::vector<vtkIdType>> voids;
  std::vector<Group> groups = GroupVoids(field, selected, std::max(options.Rings, 1), records, voids);
  WindowModel result;
  for (const Group& g : groups)
  {
    if (g.Inside != group)
    {
      continue;
    }
    GroupWindow window = WindowOf(field, selected, g, options.Margin);
    field.WindowCells(window.Ids, window.Model);
    window.Model->Register(nullptr);
    result.Model = window.Model;
    result.Inside = window.Inside;
    result.Outside = window.Ring;
  }
  return result;
}
