// What every report page must have at its foot, as a test expectation.
#pragma once

#include <gtest/gtest.h>

#include "report/tests/PdfText.h"

namespace kyvo::testing {

// The words at the foot: "Created: date time Page n of m"; everything else
// stands above its rule.
inline void ExpectFootAlone(const TPdfPage& page, int n, int pages) {
    const auto* word = page.Find("Page");
    ASSERT_TRUE(word) << page.Text();
    const double footTop = word->YMin - 2;
    std::string foot;
    for (const auto& w : page.Words)
        if (w.YMax > footTop) foot += w.Text + " ";
    EXPECT_EQ(foot.substr(0, 9), "Created: ");
    EXPECT_NE(foot.find("Page " + std::to_string(n) + " of " + std::to_string(pages) + " "),
              std::string::npos)
        << foot;
    EXPECT_EQ(std::count(foot.begin(), foot.end(), ' '), 7) << "more than the foot: " << foot;
}

}  // namespace kyvo::testing
