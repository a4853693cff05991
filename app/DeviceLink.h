// The device link as the controller uses it: the serial port object, the
// FTDI device list and the Bluetooth serial port listing, behind one small
// interface so that the controller does not depend on how the link layer
// is put together. LinkDeviceLink (app/LinkDeviceLink.h) is the real one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/SerialSender.h"

namespace kyvo {

// Error kinds of the serial port object. ConnectionLost: the port hung up
// (a cable pulled, the far end of a pseudo-terminal closed).
enum class ELinkError { NotAllSend, Unknown, PortNotOpen, ConnectionLost };

// Why the last open failed.
enum class EOpenFailure { None, Missing, InUse, NotPermitted, Other };

// Serial line format for the next open; numbers as the program settings
// give them: parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one,
// 1 one and a half, 2 two.
struct TLineFormat {
    int DataBits = 8;
    int Parity = 0;
    int StopBits = 0;
};

// A serial port present now, as the port list shows it.
struct TSerialPortEntry {
    std::string Path;         // device path, e.g. /dev/ttyUSB1
    std::string Description;  // what it is, e.g. "CP2102 USB to UART"; may be empty
};

// The vendor and product id (vendor << 16 | product) of the reader's cable.
inline constexpr std::uint32_t kKyvoCableId = 0x04036015;

// One FTDI device as the driver lists it.
struct TFTDIDeviceEntry {
    std::uint32_t Flags = 0;  // 1: opened by another program
    std::uint32_t ID = 0;     // vendor << 16 | product
    std::string Serial;       // up to 16 characters
    std::string Description;  // up to 64 characters
};

class IDeviceLink : public ISerialSender {
  public:
    // Both handlers run on the main thread. onReceive: bytes are waiting in
    // the receive queue (fetch them with GetByte). onError: a transmission
    // failed.
    std::function<void()> OnReceive;
    std::function<void(ELinkError)> OnError;

    // True when the FTDI driver is usable; the controller then lists and
    // opens FTDI devices by index instead of serial ports by name.
    virtual bool FtdiMode() const = 0;
    // Opens an FTDI device by its index in the last device list.
    virtual bool OpenFtdi(int deviceIndex, int baud) = 0;
    // Opens a serial port by name ("COM3" or a device path such as
    // /dev/ttyUSB0 or /dev/pts/4).
    virtual bool OpenSerial(const std::string& portName, int baud) = 0;
    virtual void ClosePort() = 0;
    virtual bool IsOpen() const = 0;
    // Next received byte; false when the queue is empty.
    virtual bool GetByte(std::uint8_t& b) = 0;
    // The FTDI record of the open port (empty fields for a serial port).
    virtual TFTDIDeviceEntry CurrentDevice() const = 0;

    // Refreshes the FTDI device list, waiting at most limitMs. False with an
    // error number when the driver failed.
    virtual bool UpdateDeviceList(std::vector<TFTDIDeviceEntry>& devices, int& error,
                                  int limitMs) = 0;
    // Serial ports present now (Bluetooth serial ports and plain ports).
    virtual std::vector<std::string> GetComPorts() = 0;

    // Applies to every later open.
    virtual void SetLineFormat(const TLineFormat&) {}
    // The reason of the last failed open.
    virtual EOpenFailure LastOpenFailure() const { return EOpenFailure::Other; }
    // Every serial port present now that the FTDI device list does not hold
    // already: other USB serial adapters, Bluetooth serial ports, built-in
    // ports. The FTDI-mode port list offers them after the cables.
    virtual std::vector<TSerialPortEntry> OtherSerialPorts() { return {}; }
    // A note for the trace of the line, when one is kept.
    virtual void Note(const std::string& /*text*/) {}
};

}  // namespace kyvo
