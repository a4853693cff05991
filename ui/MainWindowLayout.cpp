#include "ui/MainWindowLayout.h"

#include <algorithm>
#include <cmath>

namespace kyvo::layout {

namespace {

int roundHalfEven(double v) {
    return int(std::nearbyint(v));
}

// The pixel right after a rectangle, where its right neighbour may start.
int after(const QRect& r) {
    return r.right() + 1;
}

// Shares room out over the columns at indexes: one that needs less than an
// equal share of what is left gets what it needs, the others split the rest
// evenly (never below the minimum).
void shareByNeed(int room, const std::vector<TColumnNeed>& columns, std::vector<int> indexes,
                 std::vector<int>& widths) {
    std::stable_sort(indexes.begin(), indexes.end(),
                     [&](int a, int b) { return columns[a].content < columns[b].content; });
    std::size_t next = 0;
    for (; next < indexes.size(); ++next) {
        const int left = int(indexes.size() - next);
        const int c = indexes[next];
        if (columns[c].content * left > room) break;
        widths[c] = std::max(columns[c].content, kMinimumColumnWidth);
        room -= widths[c];
    }
    const int left = int(indexes.size() - next);
    if (left == 0) return;
    // The remainder of the even split goes one pixel each to the leftmost.
    std::vector<int> rest(indexes.begin() + std::ptrdiff_t(next), indexes.end());
    std::sort(rest.begin(), rest.end());
    const int share = std::max(room, 0) / left;
    int extra = std::max(room, 0) - share * left;
    for (int c : rest) {
        widths[c] = std::max(share + (extra > 0 ? 1 : 0), kMinimumColumnWidth);
        if (extra > 0) --extra;
    }
}

}  // namespace

QSize minimumWindowSize(double scaleFactor) {
    return {roundHalfEven(scaleFactor * 650 + 0.5) + 66, roundHalfEven(scaleFactor * 512 + 0.5)};
}

TTopRows topRows(const TTopRowHints& h) {
    const auto fit = [](int hint, int width) { return std::max(width, hint); };
    const int buttonWidth = std::min(120, h.screenWidth / 4);
    const int comboHeight = 25;
    TTopRows r;
    r.ftdiDevice = QRect(kMargin, kTopRowY, 230, comboHeight);
    r.com = QRect(kMargin, kTopRowY, 130, comboHeight);
    r.baud = QRect(kMargin + 134, kTopRowY, 92, comboHeight);
    r.open = QRect(kMargin + 236, kTopRowY, fit(h.open, 100), 25);
    r.combine = QRect(after(r.open) + 6, r.open.y() + (25 - h.combineHeight) / 2,
                      fit(h.combine, 190), h.combineHeight);

    r.readData = QRect(kMargin, kSecondRowY, fit(h.readData, buttonWidth), 25);
    r.instantMeasure =
        QRect(after(r.readData) + 3, kSecondRowY, fit(h.instantMeasure, buttonWidth), 25);
    r.timerMeasure =
        QRect(after(r.instantMeasure) + 3, kSecondRowY, fit(h.timerMeasure, buttonWidth), 25);

    const int panelW = 118;
    const int timeX = h.centralWidth - kMargin - panelW;
    const int dateX = timeX - 2 - panelW;
    r.panelDate = QRect(dateX, kSecondRowY - 2, panelW, 29);
    r.panelTime = QRect(timeX, kSecondRowY - 2, panelW, 29);
    r.picker = QRect(2, 2, panelW - 4, 25);
    const int labelW = std::max({104, h.kyvoTime, h.fw});
    r.kyvoTime = QRect(dateX - 6 - labelW, kSecondRowY, labelW, 25);
    r.fwDisplay = QRect(dateX, kTopRowY, timeX + panelW - dateX, 25);
    r.fw = QRect(dateX - 6 - labelW, kTopRowY, labelW, 25);
    return r;
}

TListRects listRects(int windowWidth, int centralHeight, int listsTop) {
    const int measW = (windowWidth - 20) * 6 / 10;
    const int resW = (windowWidth - 20) * 4 / 10 - 10;
    const int fullH = std::max(centralHeight - listsTop - kStatusGap, 20);
    return {QRect(kMargin, listsTop, measW, fullH),
            QRect(kMargin + measW + 8, listsTop, resW, fullH)};
}

int labelColumnWidth(int minTextWidth, int maxTextWidth, bool anyText) {
    return anyText ? std::max(minTextWidth, maxTextWidth) + 13 : 0;
}

int imageFrameWidth(EImagePos pos, int measurementsWidth, int resultsWidth, int labelColumn) {
    int width = measurementsWidth + resultsWidth - labelColumn;
    if (pos == SLeft) width -= resultsWidth + 1;
    if (pos == SRight) width -= measurementsWidth;
    return width;
}

TImagePlacement placeImage(EImagePos pos, const TListRects& lists, int centralHeight,
                           int labelColumn, int labelMinHeight) {
    const int top = lists.results.y();
    // Lists end where the picture starts: 6 pixels gap, the picture, 4 above
    // the status bar.
    const int listH = std::max(centralHeight - top - kStatusGap - kImageHeight - 6, 20);
    const int measW = lists.measurements.width();
    const int resW = lists.results.width();
    TImagePlacement p;
    p.measurementsHeight = lists.measurements.height();
    p.resultsHeight = lists.results.height();
    int labelX = 15;
    switch (pos) {
        case SLeft:
            p.measurementsHeight = listH;
            break;
        case SRight:
            p.resultsHeight = listH;
            labelX = measW + 15;
            break;
        default:
            p.measurementsHeight = listH;
            p.resultsHeight = listH;
            break;
    }
    const int t = top + std::min(p.measurementsHeight, p.resultsHeight) + 6;
    p.labelMax = QPoint(labelX, t);
    p.labelMin = QPoint(labelX, t + kImageHeight - labelMinHeight);
    int x = labelColumn + kMargin;
    if (pos == SRight) x += measW;
    p.frame =
        QRect(x, t, std::max(imageFrameWidth(pos, measW, resW, labelColumn), 4), kImageHeight);
    return p;
}

std::vector<int> fitColumnWidths(int inner, const std::vector<TColumnNeed>& columns) {
    std::vector<int> widths(columns.size(), 0);
    std::vector<int> free, whole, others;
    int room = inner;
    int need = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TColumnNeed& c = columns[i];
        if (c.dragged >= 0) {
            widths[i] = c.dragged;
            room -= c.dragged;
            continue;
        }
        free.push_back(int(i));
        (c.whole ? whole : others).push_back(int(i));
        need += c.content;
    }
    if (free.empty()) return widths;
    if (need <= room) {
        const int count = int(free.size());
        const int share = (room - need) / count;
        int extra = room - need - share * count;
        for (int i : free) {
            widths[i] = columns[i].content + share + (extra > 0 ? 1 : 0);
            if (extra > 0) --extra;
        }
        return widths;
    }
    int wholeNeed = 0;
    for (int i : whole) wholeNeed += columns[i].content;
    if (!whole.empty() && wholeNeed + kMinimumColumnWidth * int(others.size()) <= room) {
        for (int i : whole) widths[i] = columns[i].content;
        shareByNeed(room - wholeNeed, columns, others, widths);
    } else {
        shareByNeed(room, columns, free, widths);
    }
    return widths;
}

}  // namespace kyvo::layout
