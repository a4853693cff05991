#include "protocol/KyvoCommand.h"

#include <algorithm>

namespace kyvo {

namespace {

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
    cmd.waitForXCount = kFrameOverhead;
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
    if (cmd.count < payloadBytes + kFrameOverhead) {
        cmd.waitForXCount = payloadBytes + kFrameOverhead;
        return tLengthCheck::incomplete;
    }
    if (withChecksum && cmd.crc != 0) {
        resetReceive();
        return tLengthCheck::dropped;
    }
    return tLengthCheck::sound;
}

void tKyvoCommand::closeFrame(const TDeviceFrameRule& rule) {
    if (rule.resets) resetReceive();
}

bool tKyvoCommand::dispatch() {
    const tByteBuffer& f = cmd.buffer;
    tCursor c = 0;
    if (bufReadByte(f, c) != kFrameSpace) {
        resetReceive();
        return false;
    }
    const std::uint8_t code = bufReadByte(f, c);
    const TDeviceFrameRule* rule = deviceFrameRule(code);
    if (!rule) {
        // The frame stays open: each further byte reports the code again.
        raiseEvent(*this, onUnknownCommand, code);
        return false;
    }

    // A frame with a count of data bytes is checked twice: its header
    // without the checksum (to learn the count), then the whole frame.
    std::int32_t payload = rule->payload;
    if (rule->length != flFixed) {
        if (checkLength(rule->payload, false) != tLengthCheck::sound) return true;
        tCursor at = kPayload + static_cast<tCursor>(rule->payload) - 1;
        std::int32_t count = 0;
        if (rule->length == flByteCount) {
            count = bufReadByte(f, at);
        } else {
            --at;
            count = bufReadWord(f, at);
            if (count == 0) count = 65536;
        }
        payload += count;
    }
    if (checkLength(payload, true) != tLengthCheck::sound) return true;

    // Frames that are not reset stay open, so bytes after them join the
    // frame and dispatch it again. Frames that are reset are reset before
    // their event: a handler that runs a nested event loop may feed further
    // bytes, and those must not be wiped when the handler returns.
    auto data = [&](bool wanted) {
        const auto header = static_cast<std::size_t>(rule->payload);
        return wanted ? copyPayloadPart(f, kPayload + header,
                                        static_cast<std::size_t>(payload) - header)
                      : tByteBuffer{};
    };
    switch (static_cast<EDeviceFrame>(code)) {
        case dfShowTimer: {
            const std::uint16_t seconds = bufReadWord(f, c);
            closeFrame(*rule);
            raiseEvent(*this, onShowTimer, seconds);
            break;
        }
        case dfPlaceWhiteCard:
            closeFrame(*rule);
            raiseEvent(*this, onPlaceWhiteCard);
            break;
        case dfPlaceTestCard:
            closeFrame(*rule);
            raiseEvent(*this, onPlaceTestCard);
            break;
        case dfEvaluationRun:
            closeFrame(*rule);
            raiseEvent(*this, onEvaluationRun);
            break;
        case dfImageTransferStart: {
            const std::uint16_t width = bufReadWord(f, c);
            const std::uint16_t height = bufReadWord(f, c);
            closeFrame(*rule);
            raiseEvent(*this, onImageTransferStart, width, height);
            break;
        }
        case dfImageData: {
            const auto mode = static_cast<eColorMode>(bufReadByte(f, c));
            const std::uint16_t x = bufReadWord(f, c);
            const std::uint16_t y = bufReadWord(f, c);
            tByteBuffer bytes = data(bool(onImageData));
            closeFrame(*rule);
            raiseEvent(*this, onImageData, mode, x, y, bytes);
            break;
        }
        case dfCommunicationError: {
            const auto err = static_cast<eComError>(bufReadByte(f, c));
            closeFrame(*rule);
            raiseEvent(*this, onCommunicationError, err);
            break;
        }
        case dfKyvoError: {
            const auto err = static_cast<eKyvoError>(bufReadByte(f, c));
            const std::uint8_t info = bufReadByte(f, c);
            closeFrame(*rule);
            raiseEvent(*this, onKyvoError, err, info);
            break;
        }
        case dfDeviceBusy: {
            const std::uint32_t ms = bufReadDWord(f, c);
            closeFrame(*rule);
            raiseEvent(*this, onDeviceBusy, ms);
            break;
        }
        case dfWriteSuccess: {
            const std::uint8_t flags = bufReadByte(f, c);
            const std::uint32_t address = bufReadDWord(f, c);
            const std::uint16_t count = bufReadWord(f, c);
            closeFrame(*rule);
            raiseEvent(*this, onWriteSuccess, flags, address, count);
            break;
        }
        case dfDataRead: {
            const std::uint8_t flags = bufReadByte(f, c);
            const std::uint32_t address = bufReadDWord(f, c);
            tByteBuffer bytes = data(bool(onDataReaded));
            closeFrame(*rule);
            raiseEvent(*this, onDataReaded, flags, address, bytes);
            break;
        }
        case dfAcknowledge:
            closeFrame(*rule);
            raiseEvent(*this, onAcknowledge);
            break;
        case dfRFIDStatus: {
            const auto err = static_cast<eKyvoError>(bufReadByte(f, c));
            const std::uint8_t tagType = bufReadByte(f, c);
            const std::uint16_t userDataSize = bufReadWord(f, c);
            tByteBuffer bytes = data(true);
            closeFrame(*rule);
            raiseEvent(*this, onRFIDStatus, err, tagType, userDataSize, bytes);
            break;
        }
        case dfDateTime: {
            TDateData d;
            for (auto& byte : d.Data) byte = bufReadByte(f, c);
            using namespace std::chrono;
            const year_month_day ymd{year{d.Year + kDeviceYearBase}, month{d.Month},
                                     day{d.MonthDay}};
            const bool valid = ymd.ok() && d.Hour < 24 && d.Minutes < 60 && d.Seconds < 60;
            tDateTime t{};
            if (valid)
                t = local_days{ymd} + hours{d.Hour} + minutes{d.Minutes} + seconds{d.Seconds};
            closeFrame(*rule);
            raiseEvent(*this, onDateTime, t, valid);
            break;
        }
        case dfFirmwareVersion: {
            tFirmwareVersion v;
            v.main = bufReadByte(f, c);
            v.sub = bufReadByte(f, c);
            v.revision = bufReadWord(f, c);
            v.variant = static_cast<char>(bufReadByte(f, c));
            v.branch = bufReadByte(f, c);
            v.branchRevision = bufReadWord(f, c);
            v.suffix = static_cast<char>(bufReadByte(f, c));
            closeFrame(*rule);
            raiseEvent(*this, onFirmwareVersion, v);
            break;
        }
        case dfSerial: {
            tSerial s;
            s.kalmiSerial = bufReadDWord(f, c);
            s.customer = bufReadWord(f, c);
            s.project = bufReadWord(f, c);
            s.productionDate.ProductionDate = bufReadWord(f, c);
            s.subSerial = bufReadWord(f, c);
            closeFrame(*rule);
            raiseEvent(*this, onSerial, s);
            break;
        }
        case dfStateUpdate: {
            const std::uint16_t state = bufReadWord(f, c);
            closeFrame(*rule);
            raiseEvent(*this, onStateUpdate, state);
            break;
        }
    }
    return true;
}

// ---- sending ----

void tKyvoCommand::beginFrame(EWireCommand code) {
    txBuffer.count = 1;
    txBuffer.crc = 0;
    com.SendByte(kStartMarker);
    putByte(kFrameSpace);
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
    beginFrame(wcGetAcknowledge);
    endFrame();
}

void tKyvoCommand::getFirmwareVersion() {
    beginFrame(wcGetFirmwareVersion);
    endFrame();
}

void tKyvoCommand::getSerial() {
    beginFrame(wcGetSerial);
    endFrame();
}

void tKyvoCommand::readData(std::uint32_t address, std::int32_t count) {
    const std::int32_t n = std::clamp<std::int32_t>(count, 0, 0xFFFF);
    beginFrame(wcReadData);
    putByte(kReadDataReserved);
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
    if (update) flags |= kWriteUpdate;
    if (reset) flags |= kWriteReset;
    if (savePermanent) flags |= kWriteSavePermanent;
    beginFrame(wcWriteData);
    putByte(flags);
    putDWord(address);
    putWord(static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) putByte(buffer[offset + i]);
    endFrame();
}

void tKyvoCommand::getImage(std::uint16_t height, bool Cutted, bool Full16bit) {
    std::uint8_t mode = kImageModeFirst;
    if (Cutted) mode += kImageModeCutted;
    if (Full16bit) mode += kImageModeFull16bit;
    beginFrame(wcImage);
    putByte(mode);
    putWord(0);
    putWord(height);
    endFrame();
}

void tKyvoCommand::getImageNext(std::uint16_t x, std::uint16_t y, bool finished) {
    beginFrame(wcImage);
    putByte(finished ? kImageModeFinished : kImageModeNext);
    putWord(x);
    putWord(y);
    endFrame();
}

const char* invalidDateTimeField(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    // The device keeps two digits of the year.
    if (year < kDeviceYearBase || year > kDeviceYearBase + 99) return "year";
    if (month < 1 || month > 12) return "month";
    if (day < 1 || day > 31) return "day";
    const year_month_day date{std::chrono::year{year},
                              std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) return "day";
    if (hour < 0 || hour > 23) return "hour";
    if (minute < 0 || minute > 59) return "minute";
    if (second < 0 || second > 59) return "second";
    return nullptr;
}

void tKyvoCommand::setDateTime(tDateTime dateTime) {
    using namespace std::chrono;
    const local_days day = floor<days>(dateTime);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> hms{dateTime - day};
    beginFrame(wcSetDateTime);
    putByte(static_cast<std::uint8_t>(hms.seconds().count()));
    putByte(static_cast<std::uint8_t>(hms.minutes().count()));
    putByte(static_cast<std::uint8_t>(hms.hours().count()));
    putByte(static_cast<std::uint8_t>(static_cast<unsigned>(ymd.day())));
    putByte(static_cast<std::uint8_t>(static_cast<unsigned>(ymd.month())));
    putByte(static_cast<std::uint8_t>(static_cast<int>(ymd.year()) - kDeviceYearBase));
    endFrame();
}

void tKyvoCommand::getDateTime() {
    beginFrame(wcGetDateTime);
    endFrame();
}

void tKyvoCommand::setButtonControl(bool disable) {
    beginFrame(wcButtonControl);
    putByte(disable ? kButtonDisabled : kButtonEnabled);
    endFrame();
}

void tKyvoCommand::evaluate(bool FromRFID, bool Timer) {
    std::uint8_t flags = 0;
    if (FromRFID) flags |= kEvaluateFromRFID;
    if (Timer) flags |= kEvaluateTimer;
    beginFrame(wcEvaluate);
    putByte(flags);
    endFrame();
}

void tKyvoCommand::abortEvaluation() {
    beginFrame(wcEvaluate);
    putByte(kEvaluateAbort);
    endFrame();
}

void tKyvoCommand::FormatDB(bool KyvoConfigs) {
    beginFrame(wcFormatDB);
    putByte(KyvoConfigs ? kFormatWithConfigs : kFormatResultsOnly);
    endFrame();
}

void tKyvoCommand::capture(std::uint16_t integrationTime, std::uint8_t imgCount, bool correctWhite,
                           bool filtered, bool full16Bit, bool cutted, bool gain) {
    std::uint8_t flags = 0;
    if (correctWhite) flags |= kCaptureCorrectWhite;
    if (filtered) flags |= kCaptureFiltered;
    if (full16Bit) flags |= kCaptureFull16Bit;
    if (cutted) flags |= kCaptureCutted;
    if (gain) flags |= kCaptureGain;
    beginFrame(wcCapture);
    putByte(flags);
    putWord(integrationTime);
    putByte(imgCount);
    endFrame();
}

void tKyvoCommand::getRFIDState() {
    beginFrame(wcGetRFIDState);
    endFrame();
}

void tKyvoCommand::resetKyvo() {
    beginFrame(wcResetKyvo);
    endFrame();
}

void tKyvoCommand::runBootloader() {
    beginFrame(wcRunBootloader);
    endFrame();
}

void tKyvoCommand::sendToLCD(std::string_view str) {
    tByteBuffer text(str.begin(), str.end());
    text.push_back(0);
    writeData(kDisplayAddress, text, true, true, 0, -1, false);
}

}  // namespace kyvo
