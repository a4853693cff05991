#include "report/LineImage.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace kyvo {

namespace {
const QColor kProfileFill(128, 128, 128);
const QColor kOutline(255, 0, 0);
const QColor kLineFill(0, 0, 255);
const QColor kBaseline(255, 255, 0);

int yOf(std::uint8_t v) {
    return 256 - int(v);
}

int roundHalfEven(float value) {
    // nearbyint follows the current rounding mode, which is to nearest,
    // ties to even, unless someone changed it.
    return int(std::nearbyint(value));
}
}  // namespace

LineBorders lineBorders(const LineMark& line) {
    return {line.center - line.width / 2 - 1, line.center + line.width / 2 + line.width % 2 + 1};
}

float profileScale(int width, int count) {
    return count < 2 ? 0.0f : float(width - 1) / float(count - 1);
}

int profileX(int j, float scale) {
    return roundHalfEven(float(j) * scale);
}

QPolygon profilePolygon(const std::vector<std::uint8_t>& values, int width) {
    const int n = int(values.size());
    QPolygon poly;
    if (n < 2 || width < 1) return poly;
    const float s = profileScale(width, n);
    poly.reserve(n + 4);
    poly << QPoint(-1, yOf(values[0])) << QPoint(0, yOf(values[0]));
    for (int j = 1; j <= n - 2; ++j) poly << QPoint(profileX(j, s), yOf(values[j]));
    poly << QPoint(width - 1, yOf(values[n - 1])) << QPoint(width, yOf(values[n - 1]))
         << QPoint(width, kLineImageHeight) << QPoint(-1, kLineImageHeight);
    return poly;
}

QPolygon linePolygon(const QPolygon& profile, const std::vector<std::uint8_t>& values, int width,
                     const LineMark& line) {
    const int n = int(values.size());
    QPolygon area;
    if (n < 2 || profile.size() != n + 4) return area;
    const LineBorders b = lineBorders(line);
    if (b.left < 0 || b.left > n - 1 || b.right < 0 || b.right > n - 1) return area;
    const float s = profileScale(width, n);
    const int xL = profileX(b.left, s);
    const int xR = profileX(b.right, s);
    const int yL = yOf(values[b.left]);
    const int yR = yOf(values[b.right]);
    // Only the profile points proper (without the closing corners) are searched.
    const int last = n + 1;
    int first = 0;
    for (int i = 0; i <= last; ++i)
        if (profile[i].x() == xL) {
            first = i;
            break;
        }
    int second = last;
    for (int i = first; i <= last; ++i)
        if (profile[i].x() == xR) {
            second = i;
            break;
        }
    for (int i = first; i <= second; ++i) {
        const QPoint p = profile[i];
        int baseY = yL;
        if (xR != xL) baseY = int(std::lround(yL + double(yR - yL) * (p.x() - xL) / (xR - xL)));
        area << QPoint(p.x(), std::max(p.y(), baseY));
    }
    return area;
}

void paintLineProfile(QPainter& p, const std::vector<std::uint8_t>& values,
                      const std::vector<LineMark>& lines, int width) {
    width = std::max(width, 1);
    p.save();
    p.fillRect(QRect(0, 0, width, kLineImageHeight), Qt::black);
    const QPolygon profile = profilePolygon(values, width);
    if (profile.isEmpty()) {
        p.restore();
        return;
    }
    // The profile's closing points lie one unit outside the picture.
    p.setClipRect(QRect(0, 0, width, kLineImageHeight),
                  p.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    p.setPen(QPen(kOutline, 0));
    p.setBrush(kProfileFill);
    p.drawPolygon(profile);

    const float s = profileScale(width, int(values.size()));
    for (const LineMark& line : lines) {
        const QPolygon area = linePolygon(profile, values, width, line);
        if (area.isEmpty()) continue;
        p.setPen(QPen(kOutline, 0));
        p.setBrush(kLineFill);
        p.drawPolygon(area);
        const LineBorders b = lineBorders(line);
        const int xL = profileX(b.left, s);
        const int xR = profileX(b.right, s);
        p.setPen(QPen(kBaseline, 0));
        p.drawLine(xL, yOf(values[b.left]), xR - 1, yOf(values[b.right]));
        p.drawLine(xL, 0, xL, kLineImageHeight - 1);
        p.drawLine(xR - 1, 0, xR - 1, kLineImageHeight - 1);
    }
    p.restore();
}

QImage drawLineImage(const std::vector<std::uint8_t>& values, const std::vector<LineMark>& lines,
                     int width, qreal devicePixelRatio) {
    width = std::max(width, 1);
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage image(QSize(int(std::ceil(width * dpr)), int(std::ceil(kLineImageHeight * dpr))),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    if (values.size() < 2) return image;
    QPainter p(&image);
    paintLineProfile(p, values, lines, width);
    return image;
}

}  // namespace kyvo
