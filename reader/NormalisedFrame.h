#ifndef NormalisedFrame_h
#define NormalisedFrame_h

/**
 * A coordinate mapped from [lo, hi] onto [0, 1], formed in double precision
 * and stored in single precision. A flat range maps everything to 0.
 *
 * The normalised frame of the model's bounding box: the reader places the
 * constraint points with it, the shape transform evaluates the spline at the
 * model's vertices with it, and both must map a vertex to the same point.
 */
inline float Normalised(float v, float lo, float hi)
{
  return hi > lo ? static_cast<float>((static_cast<double>(v) - lo) / (static_cast<double>(hi) - lo))
                 : 0.0f;
}

#endif
