#ifndef CostEstimate_h
#define CostEstimate_h

#include "EnvelopeProfile.h" // EnvelopeEntryLimit, the entries the solver can address

#include <string>

class vtkPoints;

/**
 * What the spline system of a point set costs at a support radius, known
 * before the ordering enumerates a single neighbour pair.
 *
 * The points are counted into a grid of square cells half a radius wide (x
 * and y only: the constraint points lie in one plane). The cells are numbered
 * breadth-first over the cells within reach of each other, as the ordering
 * numbers the points, starting where the ordering starts (the cell of point
 * 0, then of the lowest point not yet reached). A point's envelope row then
 * reaches back to the first point of the earliest numbered cell within reach.
 * The work is linear in the number of points and takes milliseconds.
 */
struct CostEstimate
{
  double Points = 0.0;           ///< equations n (spline points, frame points included)
  double MeanNeighbours = 0.0;   ///< mean number of other points within the radius of a point
  double EnvelopeEntries = 0.0;  ///< entries of the strict lower envelope
  double Bytes = 0.0;            ///< memory of the solve: envelope, diagonal and work arrays
  double FactorOperations = 0.0; ///< multiply-adds of the envelope factorisation
  double FactorSeconds = 0.0;    ///< FactorOperations at a fixed nominal rate (2 * 10^9 per s)
};

/// Estimates the cost of the spline system over points at radius (> 0).
CostEstimate EstimateCost(vtkPoints* points, double radius);

/**
 * Multiply-adds per second of factor_envelope() on this machine: a dense
 * system of order 1,024 factorised three times here (milliseconds on a current
 * core), the faster run counted. Timed at the first call, then kept.
 */
double MeasuredFactorRate();

/**
 * How long the factorisation of cost is expected to take on this machine, in
 * seconds: its multiply-adds at 70% of MeasuredFactorRate(). 0 when it would
 * take less than threshold seconds even at the nominal rate of FactorSeconds,
 * slower than the factorisation has run anywhere, so that ordinary runs time
 * nothing.
 */
double ExpectedFactorSeconds(const CostEstimate& cost, double threshold);

/**
 * Bytes the solve may take: 80% of the physical memory, or of the address
 * space or data limit of the process when one of them is lower.
 */
double AvailableMemory();

/**
 * The cost guard. Returns an empty text when the system at radius fits in
 * memory bytes and within EnvelopeEntryLimit; otherwise the message that
 * refuses the radius, naming it, the estimated memory and the largest radius
 * that would fit.
 */
std::string CostRefusal(vtkPoints* points, double radius, double memory);

/**
 * The cost guard for an estimate already made: cost must be
 * EstimateCost(points, radius).
 */
std::string CostRefusal(
  const CostEstimate& cost, vtkPoints* points, double radius, double memory);

/**
 * The largest radius, not above upTo, whose system fits in memory bytes and
 * within EnvelopeEntryLimit, to about 1%; 0 when none does.
 */
double LargestAffordableRadius(vtkPoints* points, double upTo, double memory);

/// A byte count as "12.3 GiB", "45.6 MiB" or "789 KiB".
std::string FormatBytes(double bytes);

#endif
