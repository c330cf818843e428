#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ui/CDoubleSlider.h"
#include "ui/DoubleSliderRange.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

TEST(DoubleSliderRange, PositionsOutsideTheRangeAreClampedAndReported) {
  DoubleSliderRange r;
  r.SetRange(0, 10);
  const auto moved = r.SetPositions(-5, 20);
  EXPECT_EQ(r.m_dLow, 0);
  EXPECT_EQ(r.m_dHigh, 10);
  EXPECT_EQ(moved, (std::vector<int>{0, 1}));
}

TEST(DoubleSliderRange, ThumbsStayInOrder) {
  DoubleSliderRange r;
  r.SetRange(0, 10);
  // Both below the range: low to min, then high up to low.
  EXPECT_EQ(r.SetPositions(-3, -1), (std::vector<int>{0, 1}));
  EXPECT_EQ(r.m_dLow, 0);
  EXPECT_EQ(r.m_dHigh, 0);
  // Both above: high to max, then low down to high.
  EXPECT_EQ(r.SetPositions(12, 15), (std::vector<int>{1, 0}));
  EXPECT_EQ(r.m_dLow, 10);
  EXPECT_EQ(r.m_dHigh, 10);
  // Inside: nothing reported.
  EXPECT_TRUE(r.SetPositions(2, 8).empty());
  // A narrower range pulls the thumbs in.
  EXPECT_EQ(r.SetRange(9, 3), (std::vector<int>{0}));
  EXPECT_EQ(r.m_dMin, 3);
  EXPECT_EQ(r.m_dMax, 9);
  EXPECT_EQ(r.m_dLow, 3);
}

TEST(DoubleSliderRange, InvertedValuesAreStoredNegated) {
  DoubleSliderRange r;
  r.m_bInverted = true;
  r.SetRange(1, 100);
  EXPECT_EQ(r.m_dMin, -100);
  EXPECT_EQ(r.m_dMax, -1);
  r.SetPositions(10, 20);
  EXPECT_EQ(r.m_dLow, -20);
  EXPECT_EQ(r.m_dHigh, -10);
  EXPECT_EQ(r.Low(), 10);
  EXPECT_EQ(r.High(), 20);
}

TEST(DoubleSliderRange, AnEmptyRangeNeverDividesByZero) {
  DoubleSliderRange r;
  r.SetRange(5, 5);
  r.SetPositions(1, 9);
  EXPECT_EQ(r.m_dLow, 5);
  EXPECT_EQ(r.m_dHigh, 5);
  EXPECT_EQ(r.PixelOf(5, 300), 0);
  EXPECT_FALSE(r.DragLower(150, 10, 300));
  EXPECT_FALSE(r.DragUpper(150, 10, 300));
  EXPECT_EQ(r.m_dLow, 5);
  EXPECT_EQ(r.m_dHigh, 5);
  // A track with no length, and values that are no numbers.
  DoubleSliderRange s;
  s.SetRange(0, 10);
  EXPECT_EQ(s.PixelOf(5, 0), 0);
  EXPECT_FALSE(s.DragLower(3, 10, -4));
  EXPECT_TRUE(s.SetRange(NAN, 3).empty());
  EXPECT_EQ(s.m_dMax, 10);
}

TEST(DoubleSliderRange, PixelsAndDragValues) {
  DoubleSliderRange r;
  r.SetRange(0, 100);
  r.SetPositions(0, 100);
  EXPECT_EQ(r.PixelOf(50, 200), 100);
  EXPECT_EQ(r.PixelOf(100, 200), 200);
  // The lower thumb's centre at 110 with a 20-pixel thumb: its left edge at 100.
  EXPECT_TRUE(r.DragLower(110, 20, 200));
  EXPECT_DOUBLE_EQ(r.m_dLow, 50);
  // The upper thumb's centre at 30 + 20: left edge at 40 less one thumb = 20.
  EXPECT_TRUE(r.DragUpper(50, 20, 200));
  EXPECT_DOUBLE_EQ(r.m_dHigh, 50);  // stopped at the lower thumb (10 < 50)
}

class DoubleSliderWidget : public ::testing::Test {
 protected:
  void SetUp() override {
    slider.setGeometry(0, 0, 420, 24);
    QObject::connect(&slider, &CDoubleSlider::SliderChanged, [this](int w) { changes.push_back(w); });
    slider.SetRange(0, 1000);
    slider.SetPositions(200, 600);
    changes.clear();
    test::Render(&slider);
  }
  CDoubleSlider slider;
  std::vector<int> changes;
};

TEST_F(DoubleSliderWidget, GeometryFollowsTheSize) {
  EXPECT_EQ(slider.ThumbSize(), 18);          // 24 x 3 / 4
  EXPECT_EQ(slider.TrackLength(), 420 - 36);  // width less two thumbs
  EXPECT_EQ(slider.LowThumbRect().left(), static_cast<int>(std::trunc(0.2 * 384 + 0.5)));
  EXPECT_EQ(slider.HighThumbRect().left(), static_cast<int>(std::trunc(0.6 * 384 + 0.5)) + 18);
}

TEST_F(DoubleSliderWidget, DraggingTheLowerThumbPastTheUpperStopsThere) {
  const QPoint grab = slider.LowThumbRect().center();
  test::Press(&slider, grab);
  test::Drag(&slider, grab + QPoint(300, 0));
  test::Release(&slider, grab + QPoint(300, 0));
  EXPECT_EQ(slider.Low(), 600);
  EXPECT_EQ(slider.High(), 600);
  EXPECT_EQ(changes, (std::vector<int>{0}));
}

TEST_F(DoubleSliderWidget, DraggingTheUpperThumbMovesItsValue) {
  const QPoint grab = slider.HighThumbRect().center();
  test::Press(&slider, grab);
  test::Drag(&slider, grab + QPoint(96, 0));  // a quarter of the track
  test::Release(&slider, grab + QPoint(96, 0));
  EXPECT_NEAR(slider.High(), 850, 6);  // within a pixel or two of the track
  EXPECT_EQ(changes, (std::vector<int>{1}));
}

TEST_F(DoubleSliderWidget, BandDragMovesNothingButReportsTheLowerThumb) {
  const QPoint band((slider.LowThumbRect().right() + slider.HighThumbRect().left()) / 2, 12);
  test::Press(&slider, band);
  test::Drag(&slider, band + QPoint(20, 0));
  test::Drag(&slider, band + QPoint(40, 0));
  test::Release(&slider, band + QPoint(40, 0));
  EXPECT_EQ(slider.Low(), 200);
  EXPECT_EQ(slider.High(), 600);
  EXPECT_EQ(changes, (std::vector<int>{0, 0}));
}

TEST_F(DoubleSliderWidget, PaintsThumbsBandAndMark) {
  slider.SetMark(500, 900, true);
  const QImage img = test::Render(&slider);
  const int bandStart = slider.LowThumbRect().right() + 2;
  // Band 0x14CEB7, mark 0x96FFFF (COLORREF), thumbs 0x0F4311, frame 0xF1FFF4.
  EXPECT_EQ(test::Pixel(img, bandStart + 2, 12), test::Rgb(0xB7, 0xCE, 0x14));
  EXPECT_EQ(test::Pixel(img, slider.HighThumbRect().left() - 3, 12), test::Rgb(0xFF, 0xFF, 0x96));
  EXPECT_EQ(test::Pixel(img, slider.LowThumbRect().left() + 9, 3), test::Rgb(0x11, 0x43, 0x0F));
  EXPECT_EQ(test::Pixel(img, 3, 12), test::Rgb(0xF4, 0xFF, 0xF1));
  EXPECT_EQ(test::Pixel(img, 0, 0), test::Rgb(0, 0, 0));
}

TEST(DoubleSliderEmpty, PaintsAndDragsWithMinEqualMax) {
  CDoubleSlider slider;
  slider.setGeometry(0, 0, 200, 20);
  slider.SetRange(7, 7);
  const QImage img = test::Render(&slider);
  EXPECT_EQ(slider.LowThumbRect().left(), 0);
  const QPoint grab = slider.LowThumbRect().center();
  test::Press(&slider, grab);
  test::Drag(&slider, grab + QPoint(50, 0));
  test::Release(&slider, grab + QPoint(50, 0));
  EXPECT_EQ(slider.Low(), 7);
  EXPECT_EQ(slider.High(), 7);
  EXPECT_FALSE(img.isNull());
}

}  // namespace
}  // namespace corvan
