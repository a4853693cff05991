// The line profile picture: the pixel values along the measured image line
// as a filled curve, each evaluated test line marked by its area under the
// baseline, the baseline and its two borders.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <cstdint>
#include <vector>

namespace kyvo {

constexpr int kLineImageHeight = 258;

struct LineMark {
    int center;  // pixel index of the line's centre
    int width;   // in pixels
};

// Border pixel indices of a line: L = c - w/2 - 1, R = c + w/2 + w%2 + 1.
struct LineBorders {
    int left;
    int right;
};
LineBorders lineBorders(const LineMark& line);

// x of profile value j in a picture of width W: round(j * (W-1)/(n-1)),
// halves to the even neighbour, computed in single precision.
int profileX(int j, float scale);
float profileScale(int width, int count);

// The closed profile polygon of n + 4 points; empty when n < 2.
QPolygon profilePolygon(const std::vector<std::uint8_t>& values, int width);

// The area of a line below its baseline, closed along the baseline; empty
// when a border index falls outside the profile.
QPolygon linePolygon(const QPolygon& profile, const std::vector<std::uint8_t>& values, int width,
                     const LineMark& line);

// Paints the picture, background included, into the rectangle (0, 0) to
// (width, 258) of the painter's present coordinates: with a scaled painter it
// stays vector (a PDF or a printer), with cosmetic hairline outlines.
void paintLineProfile(QPainter& painter, const std::vector<std::uint8_t>& values,
                      const std::vector<LineMark>& lines, int width);

// Draws the picture at exactly width x 258 logical pixels; the image holds
// devicePixelRatio times as many pixels so that it stays sharp on dense
// screens. With fewer than two values the picture stays black.
QImage drawLineImage(const std::vector<std::uint8_t>& values, const std::vector<LineMark>& lines,
                     int width, qreal devicePixelRatio = 1.0);

}  // namespace kyvo
