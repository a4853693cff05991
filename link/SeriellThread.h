// The program's only path to the device: an open port (COM mode through the
// termios layer, or FTDI mode through the D2XX binding) and a worker thread
// that moves received bytes into the receive queue and queued bytes out to
// the port, in rounds 5 ms apart. A port with a descriptor lets the worker
// sleep while the line is quiet and wake at once for arriving or queued
// bytes. OnReceive, OnRxBufferFull (receive side) and OnError run on the
// main thread while the worker waits for them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/FTDI_directDriver.h"
#include "link/FastRingBufferByte.h"
#include "link/MainThread.h"
#include "link/SerialPort.h"
#include "link/posix/PortWaiter.h"
#include "protocol/ByteBuffer.h"
#include "protocol/SerialSender.h"

namespace kyvo {

// Err_ConnectionLost: the port hung up (a cable pulled); raised once per open.
enum TSeriellError { Err_NotAllSend, Err_Unknown, Err_PortNotOpen, Err_ConnectionLost };
enum eBusState { bsACTIVE, bsRELEASE, bsIDLE };

// LastError when an FTDI-only operation is asked of a closed port.
constexpr std::uint32_t kErrFtdiPortClosed = 0x8080;
// Set in LastError for FTDI statuses and after a failed reception step.
constexpr std::uint32_t kErrFtdiBit = 0x8000;

// COM-mode port names. A number n stands for "COMn", which maps to
// /dev/ttyS(n-1) as serial ports have always been numbered on this system;
// a name with a '/' is a device path; any other bare name (ttyUSB0,
// rfcomm0, pts/3) is taken below /dev.
std::string comPortDevicePath(std::int32_t portNumber);
std::string comPortDevicePath(const std::string& portName);

class TSeriellThread final : public ISerialSender {
  public:
    using TReceiveEvent = std::function<void(TSeriellThread* Sender)>;
    using TReceiveBufferFull = std::function<void(TSeriellThread* Sender)>;
    using TErrorEvent = std::function<void(TSeriellThread* Sender, TSeriellError Error)>;
    // Opens the port for OpenPort(portID, ...) in place of the mode's own
    // opening; error is the LastError to report when it returns null.
    using PortOpener = std::function<std::shared_ptr<ISerialPort>(
        std::int32_t portID, bool portIDAsLocID, std::uint32_t& error)>;
    // Wraps each port as it opens (a trace, for instance). name: the device
    // path, "FTDI device N" or empty; the result takes the port's place.
    using PortDecorator = std::function<std::shared_ptr<ISerialPort>(
        std::shared_ptr<ISerialPort> port, const std::string& name)>;

    static constexpr std::int32_t kDefaultBufferSize = 524288;
    static constexpr std::uint32_t kChunkSize = 16384;
    static constexpr int kRoundMs = 5;
    // Longest sleep of a worker whose port has a descriptor and nothing to do.
    static constexpr int kIdleWaitMs = 500;

    // The worker starts at once unless CreateSuspended; a suspended worker is
    // driven by its owner through Round (or ReadSeriell and SendBuffer) or
    // started with Start. ftdi null: the default binding (library or built-in
    // provider); std::make_unique<FTDIDirect>(nullptr) gives COM ports only.
    // mainThread must outlive this object.
    TSeriellThread(bool CreateSuspended, IMainThread& mainThread,
                   std::int32_t BufferSize = kDefaultBufferSize,
                   std::unique_ptr<FTDIDirect> ftdi = nullptr);
    // Stops the worker (events are no longer delivered), closes the port.
    // Main thread only.
    ~TSeriellThread() override;
    TSeriellThread(const TSeriellThread&) = delete;
    TSeriellThread& operator=(const TSeriellThread&) = delete;

    void Start();
    bool isRunning() const { return worker_.joinable(); }

    // FTDI mode: portID is a device-list index, or a location id with
    // portIDAsLocID. COM mode: portID n opens comPortDevicePath(n).
    bool OpenPort(std::int32_t portID, std::int32_t Baud, bool portIDAsLocID = false);
    // A serial port by name (see comPortDevicePath), in either mode: in FTDI
    // mode this reaches the ports that are no FTDI device.
    bool OpenPort(const std::string& portName, std::int32_t Baud);
    // Opens the given port as if the mode had opened it (tests, in-process
    // simulator); an opener set by SetPortOpener is not consulted.
    bool OpenPort(std::shared_ptr<ISerialPort> port, std::int32_t Baud);
    // False also when nothing was open.
    bool ClosePort();
    void SetPortOpener(PortOpener opener) { opener_ = std::move(opener); }
    // Applies to ports opened from now on; empty: ports are used as opened.
    void SetPortDecorator(PortDecorator decorator) { decorator_ = std::move(decorator); }
    // The decorator every serial port object starts with. A front end sets
    // it once in main(), before the layers above create their port object,
    // so that a trace reaches the line without those layers knowing of it;
    // the scope object restores the previous one when it ends.
    class ScopedDefaultPortDecorator {
      public:
        explicit ScopedDefaultPortDecorator(PortDecorator decorator);
        ~ScopedDefaultPortDecorator();
        ScopedDefaultPortDecorator(const ScopedDefaultPortDecorator&) = delete;
        ScopedDefaultPortDecorator& operator=(const ScopedDefaultPortDecorator&) = delete;

      private:
        PortDecorator previous_;
    };

    bool isOpen() const { return Open.load(); }
    bool ftdiMode() const { return fFTDIMode; }
    // Closes the port on a change; FTDI mode only with a usable binding.
    void SetftdiMode(bool Value);
    tFT_device_list_info_node GetftdiCurrentDevice();
    tFT_device_list_info_node ftdiCurrentDevice() { return GetftdiCurrentDevice(); }
    FTDIDirect& ftdi() { return *ftdi_; }

    // The main thread's side of the queues.
    bool GetByte(std::uint8_t& B);
    bool ReadByte(std::uint8_t& B);
    bool read(tByteBuffer& rdBuffer, std::int32_t maxRead);
    std::int32_t RxCount() const { return RxPuffer.GetCount(); }
    std::int32_t txCount() const { return TxPuffer.GetCount(); }
    void clear();

    // Queue bytes; a refusal raises OnRxBufferFull on the calling thread.
    bool SendByte(std::uint8_t B) override;
    bool Send(const tByteBuffer& buffer);
    bool Send(const std::string& Str);
    // Transmits up to 16384 queued bytes now. True when a chunk left whole.
    bool SendBuffer() override;
    // One reception step; false on a port error (LastError gets bit 0x8000).
    bool ReadSeriell();
    // One worker round without its sleep: bus state, reception, transmission.
    void Round();
    void UpdateBusState();

    // Main thread: a remark for the open port's trace, if it has one.
    void Note(const std::string& text);
    void Set_DTR(bool OnOff);
    void SET_RTS(bool OnOff);
    bool DTR() const { return fDTR; }
    bool RTS() const { return fRTS; }
    void GetStatus();

    std::uint32_t GetErrorCode() const { return LastError.load(); }
    static std::string GetErrorMessage(std::uint32_t ErrorCode);
    std::string GetErrorMessage() const { return GetErrorMessage(LastError.load()); }

    std::uint32_t setCBusOutput(std::uint8_t dataDirection, std::uint8_t outputValue);
    std::int32_t getComPortNumber();

    std::string getParityString() const;
    std::string getStopBitsString() const;
    eBusState busState() const { return fBusState.load(); }
    std::int32_t BaudRate() const { return BaudRate_; }
    TSeriellError lastSerialError() const { return serError; }

    // Line settings for the next OpenPort.
    std::int32_t countOfBits = 8;
    tStopBits stopBits = FT_STOP_BITS_1;
    tParity parity = FT_PARITY_NONE;

    // Modem lines after GetStatus.
    bool CTS = false, DSR = false, RI = false, RLSD = false;

    // Assigned on the main thread before the port opens; unassigned = skipped.
    TReceiveEvent OnReceive;
    TReceiveBufferFull OnRxBufferFull;
    TErrorEvent OnError;

  private:
    enum class Event { Receive, RxBufferFull, Error };
    bool openWith(std::shared_ptr<ISerialPort> port, std::uint32_t openError, std::int32_t portID,
                  bool portIDAsLocID, bool ftdiPort);
    std::shared_ptr<ISerialPort> openFtdi(std::int32_t portID, bool portIDAsLocID,
                                          std::uint32_t& error);
    void busHold(std::int32_t ms);
    void advanceBusHold(std::int32_t ms);
    bool receive(std::uint32_t& got);
    void raiseOnMain(Event which);
    void execute();

    IMainThread& mainThread_;
    TFastRingBufferByte RxPuffer;
    TFastRingBufferByte TxPuffer;
    std::unique_ptr<FTDIDirect> ftdi_;
    PortOpener opener_;
    PortDecorator decorator_;

    // Replaced only by the main thread holding both locks; the worker uses it
    // under one of them.
    std::shared_ptr<ISerialPort> port_;
    bool portIsFtdi_ = false;
    std::string portPath_;  // COM mode: the device path opened
    std::atomic<bool> closing_{false};
    bool lostReported_ = false;  // worker only
    std::atomic<bool> Ende{false};
    std::atomic<bool> Open{false};
    std::int32_t BaudRate_ = 0;
    std::atomic<std::uint32_t> LastError{0};
    bool fFTDIMode = false;
    std::int32_t fFTDICurrentIdx = 0;
    bool fFTDIOpendByLocID = false;
    std::mutex criticalTx;
    std::mutex criticalRx;
    TSeriellError serError = Err_NotAllSend;
    std::atomic<eBusState> fBusState{bsIDLE};
    std::atomic<std::int32_t> fBusHoldBusyTime{0};
    bool fRTS = false;
    bool fDTR = false;

    std::uint8_t rxTmpBuffer[kChunkSize];
    std::uint8_t txTmpBuffer[kChunkSize + 1];

    std::thread worker_;
    std::atomic<bool> workerDone_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    PortWaiter waiter_;
};

}  // namespace kyvo
