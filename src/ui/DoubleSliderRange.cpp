#include "ui/DoubleSliderRange.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvan {

std::vector<int> DoubleSliderRange::SetRange(double a, double b) {
  if (!std::isfinite(a) || !std::isfinite(b)) return {};
  if (a > b) std::swap(a, b);
  if (m_bInverted) {
    m_dMin = -b;
    m_dMax = -a;
  } else {
    m_dMin = a;
    m_dMax = b;
  }
  return ClampAndNotify();
}

std::vector<int> DoubleSliderRange::SetPositions(double low, double high) {
  if (!std::isfinite(low) || !std::isfinite(high)) return {};
  if (m_bInverted) {
    m_dLow = -high;
    m_dHigh = -low;
  } else {
    m_dLow = low;
    m_dHigh = high;
  }
  return ClampAndNotify();
}

std::vector<int> DoubleSliderRange::ClampAndNotify() {
  std::vector<int> moved;
  if (m_dLow < m_dMin) {
    m_dLow = m_dMin;
    moved.push_back(0);
    if (m_dLow > m_dHigh) {
      m_dHigh = m_dLow;
      moved.push_back(1);
    }
  }
  if (m_dHigh > m_dMax) {
    m_dHigh = m_dMax;
    moved.push_back(1);
    if (m_dHigh < m_dLow) {
      m_dLow = m_dHigh;
      moved.push_back(0);
    }
  }
  return moved;
}

int DoubleSliderRange::PixelOf(double v, int track) const {
  if (IsEmpty() || track <= 0) return 0;
  return static_cast<int>(std::trunc((v - m_dMin) / (m_dMax - m_dMin) * track + 0.5));
}

bool DoubleSliderRange::DragLower(int p, int thumb, int track) {
  if (IsEmpty() || track <= 0) return false;
  const double v = static_cast<double>(p - thumb / 2) / track * (m_dMax - m_dMin) + m_dMin;
  const double old = m_dLow;
  m_dLow = std::clamp(v, m_dMin, m_dHigh);
  return m_dLow != old;
}

bool DoubleSliderRange::DragUpper(int p, int thumb, int track) {
  if (IsEmpty() || track <= 0) return false;
  const double v = static_cast<double>(p - 3 * thumb / 2) / track * (m_dMax - m_dMin) + m_dMin;
  const double old = m_dHigh;
  m_dHigh = std::clamp(v, m_dLow, m_dMax);
  return m_dHigh != old;
}

}  // namespace corvan
