// The protocol object: turns commands into frames for the serial port and
// assembles the device's frames from received bytes into typed events.
//
// Frame on the wire: FE 20 <code> <payload...> <checksum>, the checksum being
// the XOR of every byte after the start marker. After the marker each 0xFE
// is sent twice; a single 0xFE always starts a new frame. Frames carry no
// length field: the code, and for some codes a length inside the payload,
// fixes how long a frame is.
//
// Everything here runs on one thread (the main thread); no locks.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string_view>

#include "protocol/ByteBuffer.h"
#include "protocol/KyvoErrors.h"
#include "protocol/KyvoWire.h"
#include "protocol/SerialSender.h"

namespace kyvo {

// Raised by a command whose frame would not fit the 16384-byte frame
// limit. The bytes framed before it stay queued in the sender.
class eCommandBufferOverflow : public std::runtime_error {
  public:
    eCommandBufferOverflow() : std::runtime_error("Transmitt buffer overflow in tKyvoCommand") {}
};

enum eColorMode : std::uint8_t {
    icmRGB = 0,
    icmGRAY_8 = 1,
    icmGRAY_16 = 2,
};

// A local calendar date and time, to the second, with no time zone.
using tDateTime = std::chrono::local_seconds;

// The first field of a date and time that setDateTime cannot send as it
// stands ("year": outside 2000 to 2099, "month", "day": not in that month,
// "hour", "minute", "second"); null when it is a real one.
const char* invalidDateTimeField(int year, int month, int day, int hour, int minute, int second);

struct tCommandBuffer {
    tByteBuffer buffer;              // frame bytes after the start marker, unescaped
    std::int32_t count = 0;          // receive: bytes stored; send: bytes framed incl. the marker
    std::int32_t waitForXCount = 3;  // receive: stored count at which to dispatch next
    bool valid = false;              // receive: a frame is open
    std::uint8_t crc = 0;
    bool couldBeACommand = false;  // receive: the previous byte was a single 0xFE
};

class tKyvoCommand {
  public:
    // Events. Each gets the protocol object as its sender and is raised from
    // inside handleByte; an empty one is skipped, its frame still consumed.
    // Buffers handed by reference are fresh copies: a handler may move them.
    // A handler may send commands, reassign events (its own too) and feed
    // further bytes through handleByte (a nested event loop).
    using tSimpleEvent = std::function<void(tKyvoCommand& sender)>;
    using tFirmwareVersionEvent =
        std::function<void(tKyvoCommand& sender, const tFirmwareVersion& firmware)>;
    using tCommunicationError = std::function<void(tKyvoCommand& sender, eComError errorCode)>;
    using tKyvoErrorEvent =
        std::function<void(tKyvoCommand& sender, eKyvoError errorCode, std::uint8_t info)>;
    using tWriteSuccessEvent = std::function<void(tKyvoCommand& sender, std::uint8_t flags,
                                                  std::uint32_t startAddress, std::int32_t count)>;
    using tDataReadedEvent =
        std::function<void(tKyvoCommand& sender, std::uint8_t flags, std::uint32_t startAddress,
                           tByteBuffer& tmpBuffer)>;
    using tRFIDStatusEvent =
        std::function<void(tKyvoCommand& sender, eKyvoError errorCode, std::uint8_t tagType,
                           std::int32_t userDataSize, tByteBuffer& tmpBuffer)>;
    using tUnknownCommandEvent = std::function<void(tKyvoCommand& sender, std::uint8_t command)>;
    using tImageTransferStart =
        std::function<void(tKyvoCommand& sender, std::uint16_t width, std::uint16_t height)>;
    using tImageDataEvent =
        std::function<void(tKyvoCommand& sender, eColorMode colorMode, std::int32_t x,
                           std::int32_t y, tByteBuffer& tmpBuffer)>;
    // valid is false when the six bytes form no date and time; dateTime is
    // then meaningless.
    using tDateTimeEvent =
        std::function<void(tKyvoCommand& sender, tDateTime dateTime, bool valid)>;
    using tSerialEvent = std::function<void(tKyvoCommand& sender, const tSerial& serial)>;
    using tTimeEvent = std::function<void(tKyvoCommand& sender, std::uint32_t timeStamp)>;
    using tShowTimerEvent = std::function<void(tKyvoCommand& sender, std::uint16_t Seconds)>;
    using tPlaceWhiteCardEvent = tSimpleEvent;
    using tPlaceTestCardEvent = tSimpleEvent;
    using tEvaluationRunEvent = tSimpleEvent;
    using tStateEvent = std::function<void(tKyvoCommand& sender, std::uint16_t State)>;

    tSimpleEvent onAcknowledge;                // 0x55
    tFirmwareVersionEvent onFirmwareVersion;   // 0xA3
    tCommunicationError onCommunicationError;  // 0x45
    tKyvoErrorEvent onKyvoError;               // 0x47
    tWriteSuccessEvent onWriteSuccess;         // 0x51
    tDataReadedEvent onDataReaded;             // 0x53
    tRFIDStatusEvent onRFIDStatus;             // 0x57
    tUnknownCommandEvent onUnknownCommand;     // any code not listed
    tImageTransferStart onImageTransferStart;  // 0x40
    tImageDataEvent onImageData;               // 0x42
    tDateTimeEvent onDateTime;                 // 0x59
    tSerialEvent onSerial;                     // 0xA5
    tTimeEvent onDeviceBusy;                   // 0x49, milliseconds
    tShowTimerEvent onShowTimer;               // 0x30, seconds left
    tPlaceWhiteCardEvent onPlaceWhiteCard;     // 0x31
    tPlaceTestCardEvent onPlaceTestCard;       // 0x32
    tEvaluationRunEvent onEvaluationRun;       // 0x33
    tStateEvent onStateUpdate;                 // 0xD0

    // The sender is not owned and must outlive this object.
    explicit tKyvoCommand(ISerialSender& communication);
    tKyvoCommand(const tKyvoCommand&) = delete;
    tKyvoCommand& operator=(const tKyvoCommand&) = delete;

    // Feeds one received byte, in arrival order. False when the byte was
    // ignored or ended a rejected frame; callers need not look at it.
    bool handleByte(std::uint8_t b);

    // Commands. Each sends one frame; a frame over the size limit raises
    // eCommandBufferOverflow. While the port is closed they are lost.
    void getAcknowledge();
    void getFirmwareVersion();
    void getSerial();
    // A count of 0 or below requests 0 bytes; above 65535, 65535.
    void readData(std::uint32_t address, std::int32_t count);
    // Writes count bytes of buffer from offset (a negative count: the rest
    // of the buffer). Never sends more bytes than the buffer holds from
    // offset: the count is cut to what is there.
    void writeData(std::uint32_t address, const tByteBuffer& buffer, bool update, bool reset,
                   std::uint32_t offset, std::int32_t count, bool savePermanent);
    void getImage(std::uint16_t height, bool Cutted, bool Full16bit);
    void getImageNext(std::uint16_t x, std::uint16_t y, bool finished);
    void setDateTime(tDateTime dateTime);
    void getDateTime();
    void setButtonControl(bool disable);
    void evaluate(bool FromRFID, bool Timer);
    void abortEvaluation();
    void FormatDB(bool KyvoConfigs);
    void capture(std::uint16_t integrationTime, std::uint8_t imgCount, bool correctWhite,
                 bool filtered, bool full16Bit, bool cutted, bool gain);
    void getRFIDState();
    void resetKyvo();
    void runBootloader();
    // The text, bytes as they are, zero-terminated, to the display memory.
    void sendToLCD(std::string_view str);

    // Unframed bytes, for the plain-text commands ("shutdown\r").
    void sendString(std::string_view str);

    static std::uint32_t toReaderDate(std::chrono::year_month_day date) {
        return kyvo::toReaderDate(date);
    }
    static std::chrono::year_month_day fromReaderDate(std::uint32_t readerDate) {
        return kyvo::fromReaderDate(readerDate);
    }

  private:
    enum class tLengthCheck { incomplete, sound, dropped };

    void resetReceive();
    bool store(std::uint8_t b);
    bool dispatch();
    tLengthCheck checkLength(std::int32_t payloadBytes, bool withChecksum);
    void closeFrame(const TDeviceFrameRule& rule);

    void beginFrame(EWireCommand code);
    void putByte(std::uint8_t b);
    void putWord(std::uint16_t v);
    void putDWord(std::uint32_t v);
    void endFrame();

    ISerialSender& com;
    tCommandBuffer cmd;
    tCommandBuffer txBuffer;
};

}  // namespace kyvo
