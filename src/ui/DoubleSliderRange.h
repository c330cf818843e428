#pragma once
// The values of the two-thumb slider: a range and two thumbs kept in
// min <= low <= high <= max, with the thumbs that a change moved reported
// in the order the slider tells its owner (0 lower, 1 upper). An inverted
// slider stores its values negated, so that it runs from high to low.

#include <vector>

namespace corvan {

class DoubleSliderRange {
 public:
  double m_dMin = 0.0, m_dMax = 1.0;
  double m_dLow = 0.0, m_dHigh = 1.0;
  bool m_bInverted = false;

  // A reversed pair is swapped. Non-finite values are refused (nothing changes).
  std::vector<int> SetRange(double a, double b);
  std::vector<int> SetPositions(double low, double high);
  std::vector<int> ClampAndNotify();

  // The thumbs in the caller's terms (inverted: negated back).
  double Low() const { return m_bInverted ? -m_dHigh : m_dLow; }
  double High() const { return m_bInverted ? -m_dLow : m_dHigh; }

  bool IsEmpty() const { return !(m_dMax > m_dMin); }
  // Pixel offset of `v` on a track of `track` pixels; 0 for an empty range
  // or track.
  int PixelOf(double v, int track) const;
  // Drag steps: `p` is the pointer less the grab offset, `thumb` the thumb
  // thickness. Each keeps its thumb within its neighbours; an empty range
  // or track leaves the values as they are. True when a value changed.
  bool DragLower(int p, int thumb, int track);
  bool DragUpper(int p, int thumb, int track);
};

}  // namespace corvan
