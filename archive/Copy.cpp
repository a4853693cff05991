#include "archive/ArchiveInternal.h"

namespace kyvo {

std::int64_t CopyArchive(IArchive& from, IArchive& to) {
    std::int64_t added = 0;
    TArchiveFilter f;
    f.IncludeRemoved = true;
    f.Sort = EArchiveSort::Added;
    f.Limit = 500;
    // In the order they were added: measurements added to the source while
    // copying come last and are copied too.
    for (;;) {
        bool any = false;
        for (const TArchiveRow& row : from.List(f)) {
            any = true;
            if (to.FindByTestId(row.TestId)) continue;
            const TArchiveRecord rec = from.LoadRecord(row.Id);
            if (to.InsertCopy(rec, from.History(row.Id))) ++added;
        }
        if (!any) break;
        f.Offset += f.Limit;
    }
    // Materials, marks and acknowledgements after the measurements they
    // refer to.
    to.InsertQcCopy(from.QcCopy());
    return added;
}

}  // namespace kyvo
