// Writes the seed corpus of every fuzz target from the project's own
// inputs: the simulator's demo device and scenario files (configurations,
// rings, records, the bytes it sends), the files the program writes, and
// command lines of the README; with a third folder also the regression
// inputs of faults found by reading rather than by fuzzing. Run by hand when
// a format changes:
//   build/fuzz/fuzz_make_seeds fuzz/corpus sim/scenarios [fuzz/regressions]
// Seeds are kept small: a fuzzer mutates small inputs faster.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "app/IncrementalRead.h"
#include "files/ConfigFile.h"
#include "files/DeviceMemoryFile.h"
#include "files/ResultFileWriter.h"
#include "files/Settings.h"
#include "files/TextCodec.h"
#include "protocol/KyvoCommand.h"
#include "protocol/KyvoEEPROM15.h"
#include "protocol/KyvoReadWrite.h"
#include "sim/Records.h"
#include "sim/Scenario.h"
#include "sim/SimDevice.h"
#include "testdata/MeasureSet.h"
#include "testdata/TestResults.h"

namespace fs = std::filesystem;
using namespace kyvo;

namespace {

fs::path g_out;

void put(const std::string& target, const std::string& name, const tByteBuffer& bytes) {
    const fs::path dir = g_out / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}
void put(const std::string& target, const std::string& name, std::string_view text) {
    put(target, name, tByteBuffer(text.begin(), text.end()));
}
void appendWord(tByteBuffer& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void appendDWord(tByteBuffer& b, std::uint32_t v) {
    appendWord(b, static_cast<std::uint16_t>(v));
    appendWord(b, static_cast<std::uint16_t>(v >> 16));
}
class Recorder final : public ISerialSender {
  public:
    bool SendByte(std::uint8_t b) override {
        bytes.push_back(b);
        return true;
    }
    bool SendBuffer() override { return true; }
    tByteBuffer bytes;
};

// What the program remembers of the device after a whole read (the rings
// cut short, the file otherwise as written), and the incremental read's
// plan over that memory: nothing new, and one new measurement.
void rememberedSeeds(const std::string& name, const TEEPROMMap& map, const TDataRead& reader,
                     const tByteBuffer& cfgRing, const tByteBuffer& resRing) {
    TDeviceMemoryRecord record;
    record.Identity = TStoredDataFetch::IdentityOf(map, reader);
    const auto& v = map.VolatileData;
    record.ResultCfg = {v.StoredTestResultCfgStart, v.StoredTestResultCfgStop,
                        v.StoredTestResultCfgReadPtr, v.StoredTestResultCfgWritePtr, cfgRing};
    record.Result = {v.StoredTestResultStart, v.StoredTestResultStop, v.StoredTestResultReadPtr,
                     v.StoredTestResultWritePtr, resRing};
    TDeviceMemoryRecord small = record;
    small.ResultCfg.Bytes.resize(std::min<std::size_t>(cfgRing.size(), 600));
    small.Result.Bytes.resize(std::min<std::size_t>(resRing.size(), 1500));
    put("device_memory", name, encodeDeviceMemory(small));

    // The remembered rings up to just past their newest entries; the target
    // pads them with blank bytes to the rings' sizes.
    const auto used = [](const TStoredRing& r) {
        const std::size_t w = static_cast<std::uint16_t>(r.WritePtr - r.Start);
        return std::min(r.Bytes.size(), w + 64);
    };
    const auto seed = [&](const std::string& tag, std::uint16_t grow, const tByteBuffer& patch) {
        TEEPROMMap now = map;
        now.VolatileData.StoredTestResultWritePtr =
            static_cast<std::uint16_t>(now.VolatileData.StoredTestResultWritePtr + grow);
        tByteBuffer b{map.NonVolatileData.EEPROMVersion};
        appendDWord(b, map.NonVolatileData.KyvoCfgBits_0.Data);
        const tByteBuffer vol = volatileToBytes(now.VolatileData);
        b.insert(b.end(), vol.begin(), vol.begin() + 64);
        b.push_back(0x07);  // this device, today's bounds, padded rings
        b.push_back(0xFF);  // no short reply
        for (const TStoredRing* r : {&record.ResultCfg, &record.Result}) {
            appendWord(b, r->ReadPtr);
            appendWord(b, r->WritePtr);
            const std::size_t n = used(*r);
            appendWord(b, static_cast<std::uint16_t>(n));
            b.insert(b.end(), r->Bytes.begin(), r->Bytes.begin() + static_cast<std::ptrdiff_t>(n));
        }
        appendWord(b, 0);  // the configuration ring as it was
        appendWord(b, 0);
        appendWord(b, static_cast<std::uint16_t>(record.Result.WritePtr - record.Result.Start));
        appendWord(b, static_cast<std::uint16_t>(patch.size()));
        b.insert(b.end(), patch.begin(), patch.end());
        put("incremental_read", name + "-" + tag, b);
    };
    seed("unchanged", 0, {});
    // One more measurement: a copy of the oldest stored one, then the end mark.
    const std::size_t r0 = static_cast<std::uint16_t>(record.Result.ReadPtr - record.Result.Start);
    if (resRing.size() > r0 + 3) {
        const std::size_t n = resRing[r0 + 1] | resRing[r0 + 2] << 8;
        if (n >= 3 && r0 + n <= resRing.size()) {
            tByteBuffer entry(resRing.begin() + static_cast<std::ptrdiff_t>(r0),
                              resRing.begin() + static_cast<std::ptrdiff_t>(r0 + n));
            entry.push_back(0xFF);
            seed("one-new", static_cast<std::uint16_t>(n), entry);
        }
    }
}

// What one device sends to an identification and a read of its rings.
void deviceSeeds(const std::string& name, const sim::Scenario& scenario) {
    sim::SimDevice device(scenario);
    const std::uint8_t v = scenario.eepromVersion;
    TEEPROMMap map;
    map.NonVolatileData = nonVolatileFromBytes(*device.read(kNonVolatileAddress, 128));
    map.VolatileData = volatileFromBytes(*device.read(kVolatileAddress, 128));
    TDataRead reader;
    reader.SavedDataReadSrc = map.VolatileData.KyvoCfgBits.SeparateResultMemory()
                                  ? kResultMemoryAddress
                                  : kDataMemoryAddress;
    reader.SetResultStoragePointers(v, map.VolatileData);
    const TReadPlacement cfgPlace = reader.Placement(SpResultCfgData, map);
    const TReadPlacement resPlace = reader.Placement(SpResultData, map);
    tByteBuffer cfgRing = device.read(cfgPlace.address, cfgPlace.size).value_or(tByteBuffer{});
    tByteBuffer resRing = device.read(resPlace.address, resPlace.size).value_or(tByteBuffer{});

    // The device's answers to the program's requests: the receive target.
    Recorder requests;
    tKyvoCommand kyvo(requests);
    kyvo.getAcknowledge();
    kyvo.getFirmwareVersion();
    kyvo.getSerial();
    kyvo.getDateTime();
    kyvo.readData(kNonVolatileAddress, 13);
    kyvo.readData(kVolatileAddress, 128);
    kyvo.readData(0x500B2, 14);
    kyvo.readData(cfgPlace.address, 200);
    kyvo.getRFIDState();
    kyvo.readData(0x7FFFFFF, 4);
    device.receive(requests.bytes);
    device.advance(200);
    tByteBuffer answers{0x00};  // no nested feeding
    const tByteBuffer out = device.takeOutput();
    answers.insert(answers.end(), out.begin(), out.end());
    put("receive", name, answers);

    // A measurement: prompts, the evaluation, its record and line image.
    Recorder more;
    tKyvoCommand eval(more);
    eval.evaluate(false, false);
    device.receive(more.bytes);
    device.advance(10000);
    more.bytes.clear();
    eval.readData(kMeasurementResultAddress, 316);
    eval.getImage(1, false, true);
    device.receive(more.bytes);
    device.advance(2000);
    more.bytes.clear();
    eval.getImageNext(0, 0, true);
    device.receive(more.bytes);
    device.advance(200);
    tByteBuffer measured{0x00};
    const tByteBuffer sent = device.takeOutput();
    measured.insert(measured.end(), sent.begin(), sent.end());
    put("receive", name + "-measure", measured);

    rememberedSeeds(name, map, reader, cfgRing, resRing);

    // The rings, cut short: the target zero-fills them to their size.
    tByteBuffer rings{v};
    appendDWord(rings, map.NonVolatileData.KyvoCfgBits_0.Data);
    rings.push_back(map.NonVolatileData.ProductionYear);
    rings.push_back(map.NonVolatileData.ProductionWeek);
    appendWord(rings, map.NonVolatileData.SerialNumber);
    const tByteBuffer vol = volatileToBytes(map.VolatileData);
    rings.insert(rings.end(), vol.begin(), vol.begin() + 64);
    cfgRing.resize(std::min<std::size_t>(cfgRing.size(), 1500));
    resRing.resize(std::min<std::size_t>(resRing.size(), 1500));
    appendWord(rings, static_cast<std::uint16_t>(cfgRing.size()));
    rings.insert(rings.end(), cfgRing.begin(), cfgRing.end());
    rings.insert(rings.end(), resRing.begin(), resRing.end());
    put("stored_rings", name, rings);

    // Configurations and the last measurement record of each.
    int n = 0;
    for (const auto& cfg : scenario.configs) {
        if (n++ == 3) break;
        const tByteBuffer bytes = sim::configToBytes(cfg);
        tByteBuffer seed{static_cast<std::uint8_t>(n == 1 ? 0x00 : 0x3F)};
        seed.insert(seed.end(), bytes.begin(), bytes.end());
        put("test_config", name + "-" + cfg.key, seed);

        const sim::ActiveConfig active = sim::parseActiveConfig(bytes);
        sim::Measurement m;
        for (std::size_t r = 0; r < cfg.results.size(); ++r) m.values.push_back(1.5f * (r + 1));
        sim::synthesiseLinesAndImage(m, active, 240, 7);
        const tByteBuffer record = sim::measurementRecord(m, active, v);
        tByteBuffer rec{v};
        appendWord(rec, static_cast<std::uint16_t>(bytes.size()));
        rec.insert(rec.end(), bytes.begin(), bytes.end());
        appendWord(rec, static_cast<std::uint16_t>(record.size()));
        rec.insert(rec.end(), record.begin(), record.end());
        rec.insert(rec.end(), record.begin(), record.end());
        put("measurement_record", name + "-" + cfg.key, rec);
    }

    // Result files in each layout from a few of the stored measurements.
    std::vector<TKyvoResultData> list;
    ReadStoredResultConfigs(cfgRing, map, list);
    ReadStoredResults(resRing, map, list);
    TMeasureList sets;
    const auto& bits = map.NonVolatileData.KyvoCfgBits_0;
    BuildMeasureSetsFromStorage(list, DeviceIdentityOf(map.NonVolatileData),
                                bits.ResultsWithLineData(), bits.ResultsWithImage(), EnglishText,
                                nullptr, sets);
    if (sets.size() > 2) sets.resize(2);
    if (sets.empty()) return;
    for (const auto& [layout, tag] : std::vector<std::pair<ETSVVersion, std::string>>{
             {TSVVLong, "long"}, {TSVVShort, "short"}, {TSVVTobrel, "tobrel"}}) {
        std::vector<std::string> lines{BuildTsvHeader(layout)};
        for (const auto& s : sets) lines.push_back(FormatMeasureRow(*s, layout));
        put("result_file", name + "-" + tag + "-utf16", encodeTextLines(lines));
        std::string utf8;
        for (const auto& l : lines) utf8 += l + "\n";
        put("result_file", name + "-" + tag + "-utf8", utf8);
    }
}

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::cerr << "usage: fuzz_make_seeds CORPUS_FOLDER SCENARIO_FOLDER [REGRESSION_FOLDER]\n";
        return 2;
    }
    g_out = argv[1];

    put("scenario", "demo.ini", sim::demoScenarioText());
    deviceSeeds("demo", sim::Scenario::demo());
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(argv[2])) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        const std::string text = readText(f);
        put("scenario", f.filename().string(), text);
        std::string error;
        if (auto s = sim::Scenario::parse(text, error); s && s->validate().empty())
            deviceSeeds(f.stem().string(), *s);
    }

    // The settings files as the program writes them (UTF-16 LE, CR LF) and
    // as a Linux editor saves them (UTF-8, LF).
    const fs::path tmp = fs::temp_directory_path() / "kyvo-make-seeds.ini";
    for (const bool user : {false, true}) {
        fs::remove(tmp);
        {
            TConfigFile f(tmp.string(), false, false);
            f.Lines.clear();
            if (user) {
                ReadLanguageFileName(f);
                ReadLanguageName(f);
                ReadUserSettings(f, TScreenGeometry{1920, 1080, 1920, 1080}, "/home/lab/");
            } else {
                ReadProgramSettings(f);
                ReadCustomerSettings(f);
            }
            f.save();
        }
        const std::string name = user ? "DRConfig" : "DRConfigRO";
        put("settings_file", name + "-utf16.ini", readText(tmp));
        put("settings_file", name + "-utf8.ini", decodeText(readText(tmp)));
    }
    fs::remove(tmp);
    put("settings_file", "hand-edited.ini",
        "; lab PC 3\n[Setup]\nLanguage = Deutsch\nLeft = -200\nTop = $7FFFFFFF\n"
        "WindowState = 2\n[COM]\nPort = 0x10\n[KyvoCommunication]\nautoConnect = true\n"
        "stopBits = 1,5\nparity = odd\n");

    put("language_file", "two-languages.ini",
        "[English]\n1 = \"Language\"\n3 = \"Connect\"\n[&Deutsch]\n1 = \"Sprache\"\n"
        "3 = \"Verbinden\"\n617 = \"Keine Konfiguration\\r\\\"x\\\"\"\n");
    put("language_file", "two-languages-utf16.ini",
        encodeTextLines({"[English]", "1 = \"Language\"", "[Fran&&çais]", "1 = \"Langue\"",
                         "2 = \"Menu\"", "9999 = \"\""}));

    const std::vector<std::vector<std::string>> commands = {
        {"--port", "/dev/ttyUSB0", "read", "--out", "results.tsv"},
        {"--ftdi", "1", "--baud", "38400", "--layout", "short", "identify"},
        {"--port", "/dev/pts/3", "measure", "--config", "test.bin", "--timer", "--combine",
         "--out", "r.tsv"},
        {"--port", "/dev/rfcomm0", "clock", "--set", "2026-12-09 12:00:00"},
        {"--port", "COM3", "format", "--yes", "--verbose"},
        {"ports"},
        {"--help"},
    };
    int i = 0;
    for (const auto& c : commands) {
        std::string joined;
        for (const auto& a : c) joined += a + '\0';
        put("cli_options", "command-" + std::to_string(++i), joined);
    }

    if (argc == 4) {
        g_out = argv[3];
        // A result whose six classes start at class 30 of 30 in use: adding
        // a class (edit bit 0) shifted the table from past its end.
        TTestConfig cfg;
        cfg.CaptureSection.LineCntFilterWidth.SetLineCount(1);
        cfg.CaptureSection.ResultClassCnt.SetResultCount(1);
        cfg.CaptureSection.ResultClassCnt.SetClassCount(30);
        cfg.ResultSection[0].ClassRef = 30 << 3 | 6;
        tByteBuffer bytes;
        TestConfigToBytes(cfg, bytes);
        bytes.insert(bytes.begin(), 0x01);
        put("test_config", "insert-class-past-the-table", bytes);
        // An infinite upper limit: formatting it counted digits for ever.
        TTestConfig inf;
        inf.CaptureSection.LineCntFilterWidth.SetLineCount(1);
        inf.CaptureSection.ResultClassCnt.SetResultCount(1);
        inf.ResultSection[0].UpperLimit = std::numeric_limits<float>::infinity();
        TestConfigToBytes(inf, bytes);
        bytes.insert(bytes.begin(), 0x00);
        put("test_config", "infinite-limit", bytes);
    }
    return 0;
}
