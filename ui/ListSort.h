// Sorting the measurement list for the window. The date modes compute each
// set's date key once instead of in every comparison, which keeps a click on
// the date column quick with very long lists; the order is exactly that of
// SortByMode. Every other mode is SortByMode itself.
#pragma once

#include "testdata/MeasureSet.h"
#include "testdata/Sorting.h"

namespace kyvo {

void sortMeasureList(ESortType mode, TMeasureList& list, const ICollation& collation);

}  // namespace kyvo
