// Shared pieces of the archive tests: scratch folders, archives of both
// engines, and measure sets with every field set.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/Archive.h"
#include "archive/testsupport/TempPostgres.h"
#include "protocol/ByteBuffer.h"

namespace kyvo::testing {

class TArchiveScratch {
  public:
    TArchiveScratch() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kyvo-arch-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TArchiveScratch() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// A measurement with texts, result rows (a number, a text, a limit), line
// results with odd decimals, and a 256-value image.
inline TMeasureSet FullSet(const std::string& id, int seed = 0) {
    TMeasureSet s;
    s.TestID = id;
    s.TestName = "CRP quantitative";
    s.LotNr = "L" + std::to_string(1000 + seed % 7);
    s.Distr_Manu = "Kyvo Diagnostics";
    setDateData(s.DateTime, 26, 1 + seed % 12, 1 + seed % 28, seed % 24, seed % 60,
                (seed * 7) % 60);
    s.UserComment = "";
    s.Voltage = std::to_string(3700 + seed % 100);
    s.Temperature = "22.51";
    s.ResultList.push_back({"Valid", "CRP", std::to_string(seed % 50) + ".25", "mg/l", "normal"});
    s.ResultList.push_back({"Valid", "Ratio", "<0.5", "", "negative"});
    s.ResultList.push_back({"Invalid", "Größe", "FAIL", "", ""});
    s.MeasureResult.LineCount = 3;
    for (int i = 0; i < 3; ++i) {
        TLineResult& l = s.MeasureResult.Results().Line[static_cast<std::size_t>(i)];
        l.MeanValue = 100.123456f + static_cast<float>(i + seed);
        l.MinValue = 2.0001f;
        l.MaxValue = 250.5f;
        l.LeftMeanValue = 10.757f;
        l.RightMeanValue = 11.0f / 3.0f;
        l.MaxPosAbs = 120.0f;
        l.UsedPixel = 7;
        l.CenterPositionAbsolut = static_cast<std::int16_t>(-5 + i);
        l.Width = 12;
    }
    std::vector<std::int32_t> image;
    for (int k = 0; k < 256; ++k) image.push_back(100 + ((k * 37 + seed) % 3000));
    ScaleLineImage(s, image);
    return s;
}

inline std::string DeviceId(int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "12 3 1 7 1807 %04d %d", n % 3, 34082560 + n);
    return buf;
}

inline void ExpectSameSet(const TMeasureSet& a, const TMeasureSet& b) {
    EXPECT_EQ(a.TestID, b.TestID);
    EXPECT_EQ(a.TestName, b.TestName);
    EXPECT_EQ(a.LotNr, b.LotNr);
    EXPECT_EQ(a.Distr_Manu, b.Distr_Manu);
    EXPECT_TRUE(a.DateTime == b.DateTime);
    EXPECT_EQ(a.UserComment, b.UserComment);
    EXPECT_EQ(a.Voltage, b.Voltage);
    EXPECT_EQ(a.Temperature, b.Temperature);
    EXPECT_EQ(a.ResultList, b.ResultList);
    EXPECT_EQ(a.MeasureResult.LineCount, b.MeasureResult.LineCount);
    EXPECT_EQ(a.MeasureResult.HasResults(), b.MeasureResult.HasResults());
    const auto la = a.MeasureResult.Lines();
    const auto lb = b.MeasureResult.Lines();
    ASSERT_EQ(la.size(), lb.size());
    for (std::size_t i = 0; i < la.size(); ++i) {
        for (auto f :
             {&TLineResult::MeanValue, &TLineResult::MinValue, &TLineResult::MaxValue,
              &TLineResult::LeftMeanValue, &TLineResult::RightMeanValue, &TLineResult::MaxPosAbs}) {
            EXPECT_EQ(la[i].*f, lb[i].*f) << "line " << i;
        }
        EXPECT_EQ(la[i].UsedPixel, lb[i].UsedPixel);
        EXPECT_EQ(la[i].CenterPositionAbsolut, lb[i].CenterPositionAbsolut);
        EXPECT_EQ(la[i].Width, lb[i].Width);
    }
    EXPECT_EQ(a.ImageData, b.ImageData);
    EXPECT_EQ(a.OrigImage, b.OrigImage);
    EXPECT_EQ(a.ImgMin, b.ImgMin);
    EXPECT_EQ(a.ImgMax, b.ImgMax);
    EXPECT_EQ(a.PatientID, b.PatientID);
    EXPECT_EQ(a.PatientBDate, b.PatientBDate);
}

// An empty archive of an engine: "sqlite" (a file in scratch) or
// "postgres" (a fresh database on the shared throw-away server).
std::string FreshLocation(const std::string& engine, const TArchiveScratch& scratch,
                          const std::string& name);

// Tests run once per engine: GetParam() is "sqlite" or "postgres".
class ArchiveEngineBase : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "postgres") {
            if (const auto why = TTempPostgres::Unavailable(); !why.empty()) GTEST_SKIP() << why;
        }
    }
    std::string Fresh(const std::string& name = "a") {
        return FreshLocation(GetParam(), scratch_, name);
    }
    static TArchiveActor Actor(const std::string& user = "alice") {
        return TArchiveActor{user, "lab-pc", "kyvo-test", "0.1.0"};
    }
    TArchiveScratch scratch_;
};

}  // namespace kyvo::testing
