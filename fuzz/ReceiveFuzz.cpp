// The receive state machine: device bytes one by one through handleByte,
// every event handled the way the program handles it (texts built, read
// blocks collected and parsed, image data turned into a line image), with
// commands sent and further bytes fed from inside handlers.
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "protocol/KyvoCommand.h"
#include "protocol/KyvoEEPROM15.h"
#include "protocol/KyvoReadWrite.h"
#include "testdata/MeasureSet.h"
#include "testdata/TestConfiguration.h"

namespace {

using namespace kyvo;

class NullSender final : public ISerialSender {
  public:
    bool SendByte(std::uint8_t) override { return true; }
    bool SendBuffer() override { return true; }
};

std::string english(std::uint32_t, std::string_view text) { return std::string(text); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    // The first byte chooses which handlers feed the following bytes from
    // inside themselves, as a nested event loop of the program does.
    const std::uint8_t nesting = in.byte();
    const tByteBuffer bytes = in.rest();
    std::size_t next = 0;
    int depth = 0;

    NullSender sender;
    tKyvoCommand kyvo(sender);
    TEEPROMMap map;
    TDataRead reader;
    TMeasureSet set;
    std::string texts;

    auto feedNested = [&](unsigned bit) {
        if (!(nesting & (1u << bit)) || depth > 3) return;
        ++depth;
        for (int i = 0; i < 4 && next < bytes.size(); ++i) kyvo.handleByte(bytes[next++]);
        --depth;
    };

    kyvo.onAcknowledge = [&](tKyvoCommand& k) {
        k.getFirmwareVersion();
        feedNested(0);
    };
    kyvo.onFirmwareVersion = [&](tKyvoCommand& k, const tFirmwareVersion& f) {
        texts = firmwareVersionText(f);
        k.getSerial();
    };
    kyvo.onSerial = [&](tKyvoCommand& k, const tSerial& s) {
        texts = serialText(s);
        k.readData(kNonVolatileAddress, 13);
    };
    kyvo.onCommunicationError = [&](tKyvoCommand&, eComError c) {
        texts = comErrorMessage(static_cast<std::uint8_t>(c), english);
        feedNested(1);
    };
    kyvo.onKyvoError = [&](tKyvoCommand&, eKyvoError c, std::uint8_t) {
        texts = kyvoErrorMessage(static_cast<std::uint8_t>(c), english);
    };
    kyvo.onUnknownCommand = [&](tKyvoCommand& k, std::uint8_t) { k.getAcknowledge(); };
    kyvo.onDeviceBusy = [&](tKyvoCommand&, std::uint32_t ms) { fuzz::keep(&ms, sizeof ms); };
    kyvo.onDataReaded = [&](tKyvoCommand& k, std::uint8_t, std::uint32_t start, tByteBuffer& b) {
        // What an identification and a stored read make of the blocks.
        if (start == kNonVolatileAddress) readNonVolatileSN(map.NonVolatileData, b);
        if (start == kVolatileAddress) map.VolatileData = volatileFromBytes(b);
        if (const auto kind = storagePointerKindAt(start))
            parseStoragePointers(b, *kind, map.VolatileData);
        reader.SetResultStoragePointers(map.EEPROMVersion(), map.VolatileData);
        reader.InitializeReading(static_cast<EReadStep>(start % (SpNoRead + 1)), map);
        std::uint16_t n = 0;
        std::uint32_t address = 0;
        reader.PrepareNextBlock(n, address);
        k.readData(address, n);
        TTestConfig cfg;
        TestConfigFromBytes(b, cfg);
        TResult result;
        result.FromByteBuffer(b, map.EEPROMVersion());
        feedNested(2);
    };
    kyvo.onWriteSuccess = [&](tKyvoCommand&, std::uint8_t, std::uint32_t, std::int32_t n) {
        fuzz::keep(&n, sizeof n);
    };
    kyvo.onRFIDStatus = [&](tKyvoCommand&, eKyvoError, std::uint8_t, std::int32_t n,
                            tByteBuffer& b) {
        TTestConfig cfg;
        TestConfigFromBytes(b, cfg);
        fuzz::keep(&n, sizeof n);
    };
    kyvo.onImageTransferStart = [&](tKyvoCommand& k, std::uint16_t w, std::uint16_t h) {
        k.getImageNext(w, h, false);
    };
    kyvo.onImageData = [&](tKyvoCommand& k, eColorMode m, std::int32_t, std::int32_t,
                           tByteBuffer& b) {
        if (m == icmGRAY_16) LineImageFromGray16(set, b);
        k.getImageNext(0, 0, true);
        feedNested(3);
    };
    kyvo.onDateTime = [&](tKyvoCommand&, tDateTime t, bool valid) {
        if (valid) fuzz::keep(&t, sizeof t);
    };
    kyvo.onShowTimer = [&](tKyvoCommand&, std::uint16_t s) { texts = intToStrPad(s, 4, '0'); };
    kyvo.onPlaceWhiteCard = [&](tKyvoCommand&) { feedNested(4); };
    kyvo.onPlaceTestCard = [&](tKyvoCommand&) {};
    kyvo.onEvaluationRun = [&](tKyvoCommand& k) { k.abortEvaluation(); };
    kyvo.onStateUpdate = [&](tKyvoCommand& k, std::uint16_t) {
        // A handler may replace events, its own too.
        k.onStateUpdate = nullptr;
        feedNested(5);
    };

    while (next < bytes.size()) kyvo.handleByte(bytes[next++]);
    fuzz::keep(texts);
    fuzz::keep(set.ImageData.data(), set.ImageData.size());
    return 0;
}
