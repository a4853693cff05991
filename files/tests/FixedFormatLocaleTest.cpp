#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>

#include "files/ResultFileWriter.h"

namespace kyvo {
namespace {

// The window runs under the user's C library locale. Result files keep the
// program's fixed format whatever it is: "." as decimal separator.
TEST(FixedFormat, resultFileNumbersKeepThePointUnderAGermanLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::string two = FormatTsvFloat(2.0f);
    const std::string big = FormatTsvFloat(12345.678f);
    const std::string negative = FormatTsvFloat(-0.125f);
    const std::string nan = FormatTsvFloat(std::numeric_limits<float>::quiet_NaN());
    TMeasureSet m;
    m.TestID = "1";
    m.MeasureResult.LineCount = 1;
    m.MeasureResult.Results().Line[0] = {2060.64f, 1, 2, 3, 4, 5, 7, 60, 10};
    const std::string row = FormatMeasureRow(m, TSVVLong);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ("2.00", two);
    EXPECT_EQ("12345.68", big);
    EXPECT_EQ("-0.12", negative);
    EXPECT_EQ("NAN", nan);
    EXPECT_NE(std::string::npos,
              row.find("\t2060.64\t1.00\t2.00\t3.00\t4.00\t5.00\t007\t060\t010\t"));
}

}  // namespace
}  // namespace kyvo
