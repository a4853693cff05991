// Where the main window puts its controls, as arithmetic over sizes: the
// window asks its widgets for their size hints and its own size, these
// functions say where everything goes, and the window moves the widgets.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

#include "files/SettingsEnums.h"

namespace kyvo::layout {

inline constexpr int kMargin = 8;
inline constexpr int kTopRowY = 8;
inline constexpr int kSecondRowY = 40;
inline constexpr int kListGap = 29;  // lists start this far below the read-data button's top
inline constexpr int kStatusGap = 4;
inline constexpr int kImageHeight = 260;  // picture with its frame

// The smallest window at a screen whose logical dots per inch are
// scaleFactor times 96.
QSize minimumWindowSize(double scaleFactor);

// What the two top rows need to know of their widgets: the room the window
// gives them and the width (and the check box's height) their texts ask for.
struct TTopRowHints {
    int centralWidth = 0;
    int screenWidth = 1920;
    int open = 0;
    int combine = 0;
    int combineHeight = 0;
    int readData = 0;
    int instantMeasure = 0;
    int timerMeasure = 0;
    int kyvoTime = 0;
    int fw = 0;
};

struct TTopRows {
    QRect ftdiDevice, com, baud, open, combine;
    QRect readData, instantMeasure, timerMeasure;
    QRect fw, fwDisplay, kyvoTime;
    QRect panelDate, panelTime;
    QRect picker;  // a clock picker inside its panel
};

// Port row and button row at the left; the device's identity above its
// clock at the right edge. Buttons and labels keep their classic sizes
// unless their text (in the chosen language, at the screen's font size)
// needs more.
TTopRows topRows(const TTopRowHints& hints);

struct TListRects {
    QRect measurements, results;
};

// The two lists side by side, six tenths and four tenths of the window,
// from listsTop down to the status bar.
TListRects listRects(int windowWidth, int centralHeight, int listsTop);

// The room the minimum and maximum texts take left of the picture; none
// without either text.
int labelColumnWidth(int minTextWidth, int maxTextWidth, bool anyText);

// The line image's frame width beside a label column of labelColumn
// pixels, under the measurements list (SLeft), the results list (SRight) or
// both (SFull); the picture inside is two pixels narrower.
int imageFrameWidth(EImagePos pos, int measurementsWidth, int resultsWidth, int labelColumn);

struct TImagePlacement {
    int measurementsHeight = 0;
    int resultsHeight = 0;
    QPoint labelMax;
    QPoint labelMin;
    QRect frame;
};

// The picture under the lists: the lists it stands under end 6 pixels
// above it, it ends 4 pixels above the status bar, the minimum and maximum
// labels stand at its top and bottom. lists are the lists' present
// rectangles; labelMinHeight is the height of the minimum's label.
TImagePlacement placeImage(EImagePos pos, const TListRects& lists, int centralHeight,
                           int labelColumn, int labelMinHeight);

// What one column of a list asks for.
struct TColumnNeed {
    int content = 0;     // the width its title and its widest cell need
    int dragged = -1;    // the width the user gave it; -1: none
    bool whole = false;  // shown whole before the others get more than what is left
};

// The narrowest a column is made while others are shown whole.
inline constexpr int kMinimumColumnWidth = 40;

// The widths of a list's columns over inner pixels (the list's width inside
// its frame, less the vertical scroll bar's room). A dragged column keeps
// its width. When the others' content fits, each gets its content and an
// equal share of the room left over, so that they fill the list exactly.
// When it does not fit, the columns marked whole get their content as long
// as every other column keeps kMinimumColumnWidth; the room left is shared
// out so that a column that needs less than an equal share gets just what
// it needs and the rest split what remains.
std::vector<int> fitColumnWidths(int inner, const std::vector<TColumnNeed>& columns);

}  // namespace kyvo::layout
