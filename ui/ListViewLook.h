// How the main window's two lists look and behave as views: whole rows
// selected, fixed row heights, cut texts ending in an ellipsis with the
// whole text as tooltip, and the sort arrow in the header.
#pragma once

#include <QStyleOptionViewItem>
#include <QTableView>

#include "testdata/Sorting.h"

namespace kyvo {

// Whether the cell's text is wider than the room the style gives it.
bool cellTextIsCut(const QStyleOptionViewItem& option, const QWidget* widget);

// Gives a list its look; the window sets its model.
void setupList(QTableView* view);

// The header shows a downward arrow for an ascending mode, as the first
// click on a column does, and an upward one for a descending mode.
void showSortArrow(QTableView* view, int column, ESortType mode);

}  // namespace kyvo
