#include "protocol/KyvoCommand.h"

#include <algorithm>

namespace kyvo {

namespace {

constexpr std::uint8_t kStartMarker = 0xFE;
constexpr std::uint8_t kSpace = 0x20;

// Payload offsets inside the stored frame: byte 0 is the space, 1 the code.
constexpr tCursor kPayload = 2;

tByteBuffer copyPayloadPart(const tByteBuffer& frame, std::size_t from, std::size_t count) {
    return tByteBuffer(frame.begin() + static_cast<std::ptrdiff_t>(from),
                       frame.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// A copy is called, so a handler may reassign any event, its own included.
template <typename Event, typename... Args>
void raiseEvent(tKyvoCommand& sender, const Event& event, Args&&... args) {
    if (!event) return;
    const Event handler = event;
    handler(sender, std::forward<Args>(args)...);
}

}  // namespace

tKyvoCommand::tKyvoCommand(ISerialSender& communication) : com(communication) {
    cmd.buffer.reserve(kFrameLimit);
    resetReceive();
}

void tKyvoCommand::resetReceive() {
    cmd.waitForXCount = 3;
    cmd.count = 0;
    cmd.valid = false;
    cmd.crc = 0;
    cmd.couldBeACommand = false;
    // Kept at full size so a frame is filled in place, never reallocated.
    if (cmd.buffer.size() != static_cast<std::size_t>(kFrameLimit)) cmd.buffer.resize(kFrameLimit);
}

bool tKyvoCommand::handleByte(std::uint8_t b) {
    if (b == kStartMarker) {
        if (!cmd.couldBeACommand) {
            cmd.couldBeACommand = true;
            return true;
        }
        cmd.couldBeACommand = false;  // FE FE: one data byte 0xFE
        return store(b);
    }
    if (cmd.couldBeACommand) {
        resetReceive();
        cmd.valid = true;
    }
    return store(b);
}

bool tKyvoCommand::store(std::uint8_t b) {
    if (!cmd.valid) return false;
    if (cmd.count >= kFrameLimit) {
        cmd.valid = false;
        return false;
    }
    cmd.buffer[static_cast<std::size_t>(cmd.count)] = b;
    ++cmd.count;
    cmd.crc ^= b;
    if (cmd.count < cmd.waitForXCount) return true;
    return dispatch();
}

tKyvoCommand::tLengthCheck tKyvoCommand::checkLength(std::int32_t payloadBytes, bool withChecksum) {
    if (cmd.count < payloadBytes + 3) {
        cmd.waitForXCount = payloadBytes + 3;
        return tLengthCheck::incomplete;
    }
    if (withChecksum && cmd.crc != 0) {
        resetReceive();
        return tLengthCheck::dropped;
    }
    return tLengthCheck::sound;
}

bool tKyvoCommand::dispatch() {
    const tByteBuffer& f = cmd.buffer;
    tCursor c = 0;
    if (bufReadByte(f, c) != kSpace) {
        resetReceive();
        return false;
    }
    const std::uint8_t code = bufReadByte(f, c);

    // Frames that are not reset stay open, so bytes after them join the
    // frame and dispatch it again. Frames that are reset are reset before
    // their event: a handler that runs a nested event loop may feed further
    // bytes, and those must not be wiped when the handler returns.
    auto fixed = [&](std::int32_t n) { return checkLength(n, true) == tLengthCheck::sound; };

    switch (code) {
        case 0x30:
            if (fixed(2)) {
                const std::uint16_t seconds = bufReadWord(f, c);
                raiseEvent(*this, onShowTimer, seconds);
            }
            return true;
        case 0x31:
            if (fixed(0)) raiseEvent(*this, onPlaceWhiteCard);
            return true;
        case 0x32:
            if (fixed(0)) raiseEvent(*this, onPlaceTestCard);
            return true;
        case 0x33:
            if (fixed(0)) raiseEvent(*this, onEvaluationRun);
            return true;
        case 0x40:
            if (fixed(4)) {
                const std::uint16_t width = bufReadWord(f, c);
                const std::uint16_t height = bufReadWord(f, c);
                resetReceive();
                raiseEvent(*this, onImageTransferStart, width, height);
            }
            return true;
        case 0x42: {
            constexpr std::int32_t header = 7;
            if (checkLength(header, false) != tLengthCheck::sound) return true;
            const auto mode = static_cast<eColorMode>(bufReadByte(f, c));
            const std::uint16_t x = bufReadWord(f, c);
            const std::uint16_t y = bufReadWord(f, c);
            std::int32_t len = bufReadWord(f, c);
            if (len == 0) len = 65536;
            if (checkLength(header + len, true) != tLengthCheck::sound) return true;
            tByteBuffer data;
            if (onImageData)
                data = copyPayloadPart(f, kPayload + header, static_cast<std::size_t>(len));
            resetReceive();
            raiseEvent(*this, onImageData, mode, x, y, data);
            return true;
        }
        case 0x45:
            if (fixed(1)) {
                const auto err = static_cast<eComError>(bufReadByte(f, c));
                resetReceive();
                raiseEvent(*this, onCommunicationError, err);
            }
            return true;
        case 0x47:
            if (fixed(2)) {
                const auto err = static_cast<eKyvoError>(bufReadByte(f, c));
                const std::uint8_t info = bufReadByte(f, c);
                resetReceive();
                raiseEvent(*this, onKyvoError, err, info);
            }
            return true;
        case 0x49:
            if (fixed(4)) {
                const std::uint32_t ms = bufReadDWord(f, c);
                raiseEvent(*this, onDeviceBusy, ms);
            }
            return true;
        case 0x51:
            if (fixed(7)) {
                const std::uint8_t flags = bufReadByte(f, c);
                const std::uint32_t address = bufReadDWord(f, c);
                const std::uint16_t count = bufReadWord(f, c);
                resetReceive();
                raiseEvent(*this, onWriteSuccess, flags, address, count);
            }
            return true;
        case 0x53: {
            constexpr std::int32_t header = 7;
            if (checkLength(header, false) != tLengthCheck::sound) return true;
            const std::uint8_t flags = bufReadByte(f, c);
            const std::uint32_t address = bufReadDWord(f, c);
            std::int32_t len = bufReadWord(f, c);
            if (len == 0) len = 65536;
            if (checkLength(header + len, true) != tLengthCheck::sound) return true;
            tByteBuffer data;
            if (onDataReaded)
                data = copyPayloadPart(f, kPayload + header, static_cast<std::size_t>(len));
            resetReceive();
            raiseEvent(*this, onDataReaded, flags, address, data);
            return true;
        }
        case 0x55:
            if (fixed(0)) {
                resetReceive();
                raiseEvent(*this, onAcknowledge);
            }
            return true;
        case 0x57: {
            constexpr std::int32_t header = 5;
            if (checkLength(header, false) != tLengthCheck::sound) return true;
            const auto err = static_cast<eKyvoError>(bufReadByte(f, c));
            const std::uint8_t tagType = bufReadByte(f, c);
            const std::uint16_t userDataSize = bufReadWord(f, c);
            const std::int32_t len = bufReadByte(f, c);
            if (checkLength(header + len, true) != tLengthCheck::sound) return true;
            tByteBuffer data = copyPayloadPart(f, kPayload + header, static_cast<std::size_t>(len));
            raiseEvent(*this, onRFIDStatus, err, tagType, userDataSize, data);
            return true;
        }
        case 0x59:
            if (fixed(6)) {
                TDateData d;
                for (auto& byte : d.Data) byte = bufReadByte(f, c);
                using namespace std::chrono;
                const year_month_day ymd{year{d.Year + 2000}, month{d.Month}, day{d.MonthDay}};
                const bool valid = ymd.ok() && d.Hour < 24 && d.Minutes < 60 && d.Seconds < 60;
                tDateTime t{};
                if (valid)
                    t = local_days{ymd} + hours{d.Hour} + minutes{d.Minutes} + seconds{d.Seconds};
                resetReceive();
                raiseEvent(*this, onDateTime, t, valid);
            }
            return true;
        case 0xA3:
            if (fixed(9)) {
                tFirmwareVersion v;
                v.main = bufReadByte(f, c);
                v.sub = bufReadByte(f, c);
                v.revision = bufReadWord(f, c);
                v.variant = static_cast<char>(bufReadByte(f, c));
                v.branch = bufReadByte(f, c);
                v.branchRevision = bufReadWord(f, c);
                v.suffix = static_cast<char>(bufReadByte(f, c));
                resetReceive();
                raiseEvent(*this, onFirmwareVersion, v);
            }
            return true;
        case 0xA5:
            if (fixed(12)) {
                tSerial s;
                s.kalmiSerial = bufReadDWord(f, c);
                s.customer = bufReadWord(f, c);
                s.project = bufReadWord(f, c);
                s.productionDate.ProductionDate = bufReadWord(f, c);
                s.subSerial = bufReadWord(f, c);
                raiseEvent(*this, onSerial, s);
            }
            return true;
        case 0xD0:
            if (fixed(2)) {
                const std::uint16_t state = bufReadWord(f, c);
                raiseEvent(*this, onStateUpdate, state);
            }
            return true;
        default:
            // The frame stays open: each further byte reports the code again.
            raiseEvent(*this, onUnknownCommand, code);
            return false;
    }
}

// ---- sending ----

void tKyvoCommand::beginFrame(std::uint8_t code) {
    txBuffer.count = 1;
    txBuffer.crc = 0;
    com.SendByte(kStartMarker);
    putByte(kSpace);
    putByte(code);
}

void tKyvoCommand::putByte(std::uint8_t b) {
    if (txBuffer.count >= kFrameLimit) throw eCommandBufferOverflow();
    com.SendByte(b);
    ++txBuffer.count;
    if (b == kStartMarker) com.SendByte(b);
    txBuffer.crc ^= b;
}

void tKyvoCommand::putWord(std::uint16_t v) {
    putByte(static_cast<std::uint8_t>(v));
    putByte(static_cast<std::uint8_t>(v >> 8));
}

void tKyvoCommand::putDWord(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) putByte(static_cast<std::uint8_t>(v >> (8 * i)));
}

void tKyvoCommand::endFrame() {
    putByte(txBuffer.crc);
    com.SendBuffer();
}

void tKyvoCommand::sendString(std::string_view str) {
    for (char ch : str) com.SendByte(static_cast<std::uint8_t>(ch));
    com.SendBuffer();
}

void tKyvoCommand::getAcknowledge() {
    beginFrame(0xAA);
    endFrame();
}

void tKyvoCommand::getFirmwareVersion() {
    beginFrame(0xA2);
    endFrame();
}

void tKyvoCommand::getSerial() {
    beginFrame(0xA4);
    endFrame();
}

void tKyvoCommand::readData(std::uint32_t address, std::int32_t count) {
    const std::int32_t n = std::clamp<std::int32_t>(count, 0, 0xFFFF);
    beginFrame(0x52);
    putByte(0x00);
    putDWord(address);
    putWord(static_cast<std::uint16_t>(n));
    endFrame();
}

void tKyvoCommand::writeData(std::uint32_t address, const tByteBuffer& buffer, bool update,
                             bool reset, std::uint32_t offset, std::int32_t count,
                             bool savePermanent) {
    const std::size_t available = offset < buffer.size() ? buffer.size() - offset : 0;
    std::size_t n =
        count < 0 ? available : std::min<std::size_t>(static_cast<std::size_t>(count), available);
    std::uint8_t flags = 0;
    if (update) flags |= 0x01;
    if (reset) flags |= 0x02;
    if (savePermanent) flags |= 0x10;
    beginFrame(0x50);
    putByte(flags);
    putDWord(address);
    putWord(static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) putByte(buffer[offset + i]);
    endFrame();
}

void tKyvoCommand::getImage(std::uint16_t height, bool Cutted, bool Full16bit) {
    std::uint8_t mode = 2;
    if (Cutted) mode += 1;
    if (Full16bit) mode += 2;
    beginFrame(0x43);
    putByte(mode);
    putWord(0);
    putWord(height);
    endFrame();
}

void tKyvoCommand::getImageNext(std::uint16_t x, std::uint16_t y, bool finished) {
    beginFrame(0x43);
    putByte(finished ? 1 : 0);
    putWord(x);
    putWord(y);
    endFrame();
}

void tKyvoCommand::setDateTime(tDateTime dateTime) {
    using namespace std::chrono;
    const local_days day = floor<days>(dateTime);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> hms{dateTime - day};
    beginFrame(0x58);
    putByte(static_cast<std::uint8_t>(hms.seconds().count()));
    putByte(static_cast<std::uint8_t>(hms.minutes().count()));
    putByte(static_cast<std::uint8_t>(hms.hours().count()));
    putByte(static_cast<std::uint8_t>(static_cast<unsigned>(ymd.day())));
    putByte(static_cast<std::uint8_t>(static_cast<unsigned>(ymd.month())));
    putByte(static_cast<std::uint8_t>(static_cast<int>(ymd.year()) - 2000));
    endFrame();
}

void tKyvoCommand::getDateTime() {
    beginFrame(0x5A);
    endFrame();
}

void tKyvoCommand::setButtonControl(bool disable) {
    beginFrame(0xC0);
    putByte(disable ? 0x80 : 0x00);
    endFrame();
}

void tKyvoCommand::evaluate(bool FromRFID, bool Timer) {
    std::uint8_t flags = 0;
    if (FromRFID) flags |= 0x01;
    if (Timer) flags |= 0x02;
    beginFrame(0x5E);
    putByte(flags);
    endFrame();
}

void tKyvoCommand::abortEvaluation() {
    beginFrame(0x5E);
    putByte(0x04);
    endFrame();
}

void tKyvoCommand::FormatDB(bool KyvoConfigs) {
    beginFrame(0x5F);
    putByte(KyvoConfigs ? 0x01 : 0x00);
    endFrame();
}

void tKyvoCommand::capture(std::uint16_t integrationTime, std::uint8_t imgCount, bool correctWhite,
                           bool filtered, bool full16Bit, bool cutted, bool gain) {
    std::uint8_t flags = 0;
    if (correctWhite) flags |= 0x01;
    if (filtered) flags |= 0x02;
    if (full16Bit) flags |= 0x04;
    if (cutted) flags |= 0x08;
    if (gain) flags |= 0x10;
    beginFrame(0x5C);
    putByte(flags);
    putWord(integrationTime);
    putByte(imgCount);
    endFrame();
}

void tKyvoCommand::getRFIDState() {
    beginFrame(0x56);
    endFrame();
}

void tKyvoCommand::resetKyvo() {
    beginFrame(0xAF);
    endFrame();
}

void tKyvoCommand::runBootloader() {
    beginFrame(0xA1);
    endFrame();
}

void tKyvoCommand::sendToLCD(std::string_view str) {
    tByteBuffer text(str.begin(), str.end());
    text.push_back(0);
    writeData(0x10000, text, true, true, 0, -1, false);
}

}  // namespace kyvo
