// The two stored rings of the device's data memory, with the layout
// version, configuration bits and ring pointers taken from the input, walked
// and turned into measure sets as after a read, each set then formatted as
// a result-file line.
#include <cstdint>

#include "files/ResultFileWriter.h"
#include "fuzz/FuzzInput.h"
#include "protocol/KyvoEEPROM15.h"
#include "testdata/MeasureSet.h"
#include "testdata/TestResults.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    fuzz::FuzzInput in(data, size);
    TEEPROMMap map;
    map.NonVolatileData.EEPROMVersion = in.byte();
    map.NonVolatileData.KyvoCfgBits_0.Data = in.dword();
    map.NonVolatileData.ProductionYear = in.byte();
    map.NonVolatileData.ProductionWeek = in.byte();
    map.NonVolatileData.SerialNumber = in.word();
    // The volatile record up to and including the ring pointers.
    map.VolatileData = volatileFromBytes(in.bytes(64));
    const tByteBuffer cfgRing = in.block();
    const tByteBuffer resultRing = in.rest();

    std::vector<TKyvoResultData> list;
    const TStoredReadReport cfgReport = ReadStoredResultConfigs(cfgRing, map, list);
    const TStoredReadReport resultReport = ReadStoredResults(resultRing, map, list);
    fuzz::keep(&cfgReport.Entries, sizeof cfgReport.Entries);
    fuzz::keep(&resultReport.Entries, sizeof resultReport.Entries);

    const auto& bits = map.NonVolatileData.KyvoCfgBits_0;
    TMeasureList sets;
    BuildMeasureSetsFromStorage(list, DeviceIdentityOf(map.NonVolatileData),
                                bits.ResultsWithLineData(), bits.ResultsWithImage(), EnglishText,
                                nullptr, sets);
    // A second read into a filled list, as a user reading twice gets.
    BuildMeasureSetsFromStorage(list, DeviceIdentityOf(map.NonVolatileData),
                                bits.ResultsWithLineData(), bits.ResultsWithImage(), EnglishText,
                                [] { return EAddDecision::Add; }, sets);
    for (const auto& set : sets)
        for (const ETSVVersion layout : {TSVVLong, TSVVShort, TSVVTobrel})
            fuzz::keep(FormatMeasureRow(*set, layout));
    return 0;
}
