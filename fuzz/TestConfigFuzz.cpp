// A test configuration from bytes (a *.bin file, an RFID tag, the device's
// configuration memory), every accessor and display text over it, its
// editing operations, and the byte form back; the same bytes also as the
// device's stored configuration list.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz/FuzzInput.h"
#include "testdata/MeasureSet.h"
#include "testdata/TestConfiguration.h"

namespace {

using namespace kyvo;

void useConfig(TTestConfig& cfg) {
    std::string t = cfg.ReadStringData(cfg.OemSection.PtrTestName);
    t += cfg.ReadStringData(cfg.OemSection.PtrLotNr);
    t += cfg.ReadStringData(cfg.OemSection.PtrDistributorManufacturer);
    t += cfg.ReadStringData(cfg.CaptureSection.PtrTestInvalidText);
    t += cfg.ReadStringData(cfg.CaptureSection.PtrTouringProgram);
    t += TestIDToText(cfg.TestID, true);
    t += latin1ToUtf8(t);
    fuzz::keep(t);
    const bool valid = cfg.IsValid();
    for (std::uint16_t i = 0; i <= kMaxCartridgeImgSize; ++i) {
        const std::uint16_t w = cfg.Get12BitWhite(i);
        fuzz::keep(&w, sizeof w);
    }
    const float values[] = {0.0f,
                            -1.5f,
                            12.345f,
                            1e30f,
                            -1e30f,
                            std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN()};
    const std::size_t results = std::min<std::size_t>(cfg.ResultCount(), kMaxResults);
    for (std::size_t r = 0; r < results; ++r) {
        const auto& entry = cfg.ResultSection[r];
        for (const float v : values) {
            const auto row =
                MakeResultRow(cfg, entry, v, !valid, UTestInvalid{}, EnglishText);
            fuzz::keep(row.ResultValue);
            fuzz::keep(row.ClassName);
        }
        for (const auto& cls : cfg.ClassSection) {
            const auto row =
                MakeResultRow(cfg, entry, cls.LowerThan, false, UTestInvalid{}, EnglishText);
            fuzz::keep(row.ResultValue);
            fuzz::keep(FormatResultNumber(cls.LowerThan, entry.DigitCfg, entry.LowerLimit,
                                          entry.UpperLimit));
        }
        fuzz::keep(FormatResultNumber(entry.LowerLimit, entry.DigitCfg, entry.LowerLimit,
                                      entry.UpperLimit));
        fuzz::keep(FormatResultNumber(entry.UpperLimit, entry.DigitCfg, entry.LowerLimit,
                                      entry.UpperLimit));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    // The first byte picks the editing operations; the rest are the bytes.
    const std::uint8_t edits = in.byte();
    const tByteBuffer bytes = in.rest();

    TTestConfig cfg;
    const std::uint8_t code = TestConfigFromBytes(bytes, cfg);
    // Even a refused configuration keeps what was parsed: it must be safe
    // to look at.
    useConfig(cfg);

    if (code == kCfgOk) {
        tByteBuffer out;
        TestConfigToBytes(cfg, out);
        TTestConfig again;
        if (TestConfigFromBytes(out, again) != kCfgOk || !again.CompareTo(cfg)) __builtin_trap();
    }

    for (std::size_t i = 0; i < kMaxResults + 1; ++i) {
        if (edits & 1) cfg.InsertClass(i);
        if (edits & 2) cfg.DeleteClass(i);
        if (edits & 4) cfg.DeleteResult(i % 3);
        if (edits & 8) cfg.DeleteTestLine(i % 3);
        if (edits & 16) cfg.DeleteFilter(i % 3);
        if (edits & 32) cfg.Set12BitWhite(static_cast<std::uint16_t>(i * 37), 0xABC);
    }
    if (edits & 64) cfg.AdjustRelativeLinePos();
    if (edits & 128) cfg.AddStrPtrToCfg("fuzz", cfg.CaptureSection.StringSize);
    cfg.IsInStringData("FAIL");
    useConfig(cfg);
    tByteBuffer edited;
    TestConfigToBytes(cfg, edited);
    fuzz::keep(edited.data(), edited.size());

    const TStoredConfigList list = ReadStoredConfigList(bytes);
    for (const auto& e : list.Entries) fuzz::keep(e.Text);
    return 0;
}
