// The device's record of its latest measurement, for the EEPROM version the
// input names, read on its own, built into a measure set under a test
// configuration from the input (the built-in one when those bytes do not
// parse), combined with a second record, and formatted as result-file lines.
#include <cstdint>

#include "files/ResultFileWriter.h"
#include "fuzz/FuzzInput.h"
#include "testdata/MeasureSet.h"
#include "testdata/TestResults.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    fuzz::FuzzInput in(data, size);
    const std::uint8_t version = in.byte();
    const tByteBuffer cfgBytes = in.block();
    const tByteBuffer record = in.block();
    const tByteBuffer second = in.rest();

    TResult result;
    result.FromByteBuffer(record, version);
    fuzz::keep(&result.Temperature, sizeof result.Temperature);
    const bool invalid = IsRecordInvalid(result.TestInvalid, version);
    fuzz::keep(&invalid, sizeof invalid);

    TTestConfig cfg;
    if (TestConfigFromBytes(cfgBytes, cfg) != kCfgOk) {
        cfg.Reset();
        cfg.CaptureSection.LineCntFilterWidth.SetLineCount(3);
        cfg.CaptureSection.ResultClassCnt.SetResultCount(2);
    }
    TDeviceIdentity device;
    device.SerialNumber = 42;
    TMeasureSet set;
    BuildMeasureSetFromResult(record, version, cfg, device, EnglishText, set);
    CombineSecondMeasurement(second, version, cfg, EnglishText, set);
    for (const ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel})
        fuzz::keep(FormatMeasureRow(set, layout));
    return 0;
}
