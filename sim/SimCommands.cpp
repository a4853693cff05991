#include "sim/SimCommands.h"

#include "sim/SimDevice.h"
#include "sim/SimWire.h"

namespace kyvo::sim {

using namespace wire;

void SimCommands::dispatch(std::uint8_t code, const tByteBuffer& p) {
    tCursor c = 0;
    switch (code) {
        case cGetAck:
            framing_.sendEmpty(cAck, code);
            break;
        case cGetFirmware: {
            const auto& f = sc_.firmware;
            tByteBuffer r;
            tCursor o = 0;
            bufAddByte(r, o, f.main);
            bufAddByte(r, o, f.sub);
            bufAddWord(r, o, f.revision);
            bufAddByte(r, o, static_cast<std::uint8_t>(f.variant));
            bufAddByte(r, o, f.branch);
            bufAddWord(r, o, f.branchRevision);
            bufAddByte(r, o, static_cast<std::uint8_t>(f.suffix));
            framing_.send(cFirmware, r, code);
            break;
        }
        case cGetSerial: {
            const auto& s = sc_.serial;
            tByteBuffer r;
            tCursor o = 0;
            bufAddDWord(r, o, s.kalmiSerial);
            bufAddWord(r, o, s.customer);
            bufAddWord(r, o, s.project);
            bufAddWord(r, o, s.productionDate.ProductionDate);
            bufAddWord(r, o, s.subSerial);
            framing_.send(cSerial, r, code);
            break;
        }
        case cReadData: {
            std::uint8_t flags = bufReadByte(p, c);
            std::uint32_t address = bufReadDWord(p, c);
            std::uint16_t count = bufReadWord(p, c);
            // A length of 0 in the reply would mean 65536 bytes.
            if (count == 0) return framing_.sendCommError(ceReadNoData, code);
            if (count > kMaxReplyData) return framing_.sendCommError(ceBufferOverflow, code);
            auto bytes = memory_.read(address, count);
            if (!bytes) return framing_.sendCommError(ceReadInvalidLocation, code);
            tByteBuffer r;
            tCursor o = 0;
            bufAddByte(r, o, flags);
            bufAddDWord(r, o, address);
            bufAddWord(r, o, count);
            r.insert(r.end(), bytes->begin(), bytes->end());
            framing_.send(cData, r, code);
            break;
        }
        case cWriteData:
            writeData(p);
            break;
        case cImage:
            evaluator_.image(p);
            break;
        case cSetDateTime: {
            TDateData d;
            for (auto& v : d.Data) v = bufReadByte(p, c);
            clock_.setDeviceClock(d);
            break;
        }
        case cGetDateTime: {
            TDateData d;  // all zero: no valid date
            if (auto clock = clock_.deviceClock(); clock && sc_.bits.ClockPresent) d = *clock;
            framing_.send(cDateTime, tByteBuffer(d.Data.begin(), d.Data.end()), code);
            break;
        }
        case cButtonControl:
            buttonDisabled_ = (p[0] & 0x80) != 0;
            framing_.sendEmpty(cAck, code);
            break;
        case cEvaluate:
            evaluator_.evaluate(p[0]);
            break;
        case cFormatDB:
            evaluator_.formatDB(p[0]);
            break;
        case cCapture:
            if (evaluator_.busy()) return framing_.sendCommError(ceCommandError, code);
            clock_.after(300, [this] { framing_.sendEmpty(cAck, cCapture); });
            break;
        case cGetRFIDState:
            evaluator_.sendRFIDStatus(sc_.rfid.present ? 0 : 0x38, code);
            break;
        case cReset:
            evaluator_.cancel();
            break;
        case cBootloader:
            // The device would leave for its boot loader; there is none to play.
            break;
        default:
            break;
    }
}

void SimCommands::writeData(const tByteBuffer& p) {
    tCursor c = 0;
    std::uint8_t flags = bufReadByte(p, c);
    std::uint32_t address = bufReadDWord(p, c);
    std::uint16_t count = bufReadWord(p, c);
    bool inRFID = address >= kRFIDAddress && address < kRFIDAddress + 0x10000;
    if (inRFID && !memory_.hasRFID()) return framing_.sendDeviceError(0x70, 0, cWriteData);
    if (std::uint8_t err = memory_.write(address, p.data() + 7, count))
        return framing_.sendCommError(err, cWriteData);
    if (flags & 0x01) memory_.applyUpdate(address);
    tByteBuffer r;
    tCursor o = 0;
    bufAddByte(r, o, flags);
    bufAddDWord(r, o, address);
    bufAddWord(r, o, count);
    framing_.send(cWriteSuccess, r, cWriteData);
}

}  // namespace kyvo::sim
