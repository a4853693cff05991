// The port behind the serial worker: one small interface with a termios
// back end (COM mode), a D2XX back end (FTDI mode) and a loopback for tests
// and the in-process simulator. The worker only moves bytes through it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kyvo {

enum tStopBits : std::uint8_t { FT_STOP_BITS_1 = 0, FT_STOP_BITS_1_5 = 1, FT_STOP_BITS_2 = 2 };
enum tParity : std::uint8_t {
    FT_PARITY_NONE = 0,
    FT_PARITY_ODD = 1,
    FT_PARITY_EVEN = 2,
    FT_PARITY_MARK = 3,
    FT_PARITY_SPACE = 4
};

struct tLineSettings {
    std::int32_t baudRate = 38400;
    std::int32_t dataBits = 8;
    tStopBits stopBits = FT_STOP_BITS_1;
    tParity parity = FT_PARITY_NONE;
};

// Modem status bits as the worker reports them.
constexpr std::uint32_t kModemCTS = 0x10;
constexpr std::uint32_t kModemDSR = 0x20;
constexpr std::uint32_t kModemRI = 0x40;
constexpr std::uint32_t kModemRLSD = 0x80;

// Every operation returns 0 or an error code in the worker's LastError
// form (COM: a system error code; FTDI: a D2XX status with bit 0x8000).
// Operations are called by the worker and the main thread under the
// worker's locks; only cancel() may come at any time from any thread.
class ISerialPort {
  public:
    virtual ~ISerialPort() = default;
    // Line settings, then DTR and RTS as given.
    virtual std::uint32_t configure(const tLineSettings& settings, bool dtr, bool rts) = 0;
    virtual std::uint32_t setDTR(bool on) = 0;
    virtual std::uint32_t setRTS(bool on) = 0;
    // kModem* bits; false when the port cannot tell.
    virtual bool getModemStatus(std::uint32_t& bits) = 0;
    // Discards what the driver holds: the transmit side, then the receive side.
    virtual void purge(bool tx, bool rx) = 0;
    // Reads at most maxLen of the bytes waiting now, without blocking; len is
    // set to the bytes read. Nonzero (raw code, without bit 0x8000) when the
    // port failed, e.g. a cable was pulled.
    virtual std::uint32_t readWaiting(std::uint8_t* buf, std::uint32_t maxLen,
                                      std::uint32_t& len) = 0;
    // False while the driver still holds earlier output or reports a line
    // error; the worker then keeps its bytes for a later round.
    virtual bool readyToSend() = 0;
    // Writes the chunk, waiting while the line drains; written is set to the
    // bytes accepted. A short count means the rest is lost.
    virtual std::uint32_t write(const std::uint8_t* buf, std::uint32_t len,
                                std::uint32_t& written) = 0;
    // Any thread: makes a write in progress give up soon (the port closes).
    virtual void cancel() = 0;
    virtual std::uint32_t close() = 0;
    // A descriptor that poll() reports readable when bytes arrive, so the
    // worker can sleep until then; -1 when the port has none and is looked
    // at in fixed rounds.
    virtual int pollFd() const { return -1; }
    // True once the line is gone for good (a cable pulled, the far end of a
    // pseudo-terminal closed), as opposed to a read that failed once.
    virtual bool hungUp() const { return false; }
    // A remark on the traffic for whoever watches the line (a trace); a
    // plain port has no one to tell.
    virtual void note(const std::string& /*text*/) {}
};

// A port without a line: what the program writes goes to `onWrite`, and
// what `push` hands in is what the program reads. Thread-safe. The fault
// switches model a pulled cable, a stalled line and a busy driver.
class LoopbackPort final : public ISerialPort {
  public:
    using WriteHandler = std::function<void(const std::uint8_t* data, std::size_t len)>;
    explicit LoopbackPort(WriteHandler onWrite = {}) : onWrite_(std::move(onWrite)) {}

    // Bytes for the program to read.
    void push(const std::uint8_t* data, std::size_t len) {
        std::lock_guard lock(mutex_);
        rx_.insert(rx_.end(), data, data + len);
    }
    void push(const std::vector<std::uint8_t>& data) { push(data.data(), data.size()); }
    std::size_t pendingForProgram() const {
        std::lock_guard lock(mutex_);
        return rx_.size() - rxPos_;
    }
    // Reads fail with this code (0 = healthy), as after a pulled cable.
    void setReadFailure(std::uint32_t code) {
        std::lock_guard lock(mutex_);
        readFailure_ = code;
    }
    // The line is gone: every read fails and the port says it hung up.
    void hangUp() {
        std::lock_guard lock(mutex_);
        readFailure_ = 5;  // EIO
        hungUp_ = true;
    }
    bool hungUp() const override {
        std::lock_guard lock(mutex_);
        return hungUp_;
    }
    // Each write accepts at most this many bytes (negative = all).
    void setWriteLimit(std::int64_t limit) {
        std::lock_guard lock(mutex_);
        writeLimit_ = limit;
    }
    void setOutputBusy(bool busy) {
        std::lock_guard lock(mutex_);
        outputBusy_ = busy;
    }
    void setModemStatus(std::uint32_t bits) {
        std::lock_guard lock(mutex_);
        modem_ = bits;
    }

    // What the program did to the port.
    struct Record {
        tLineSettings settings;
        bool dtr = false;
        bool rts = false;
        int configured = 0;
        int purges = 0;
        bool closed = false;
        std::vector<std::size_t> writes;  // size of each write call
    };
    Record record() const {
        std::lock_guard lock(mutex_);
        return record_;
    }

    std::uint32_t configure(const tLineSettings& settings, bool dtr, bool rts) override {
        std::lock_guard lock(mutex_);
        record_.settings = settings;
        record_.dtr = dtr;
        record_.rts = rts;
        ++record_.configured;
        record_.closed = false;
        return 0;
    }
    std::uint32_t setDTR(bool on) override {
        std::lock_guard lock(mutex_);
        record_.dtr = on;
        return 0;
    }
    std::uint32_t setRTS(bool on) override {
        std::lock_guard lock(mutex_);
        record_.rts = on;
        return 0;
    }
    bool getModemStatus(std::uint32_t& bits) override {
        std::lock_guard lock(mutex_);
        bits = modem_;
        return true;
    }
    void purge(bool, bool) override {
        std::lock_guard lock(mutex_);
        ++record_.purges;
    }
    std::uint32_t readWaiting(std::uint8_t* buf, std::uint32_t maxLen,
                              std::uint32_t& len) override {
        std::lock_guard lock(mutex_);
        len = 0;
        if (readFailure_ != 0) return readFailure_;
        while (len < maxLen && rxPos_ < rx_.size()) buf[len++] = rx_[rxPos_++];
        if (rxPos_ == rx_.size()) {
            rx_.clear();
            rxPos_ = 0;
        }
        return 0;
    }
    bool readyToSend() override {
        std::lock_guard lock(mutex_);
        return !outputBusy_;
    }
    std::uint32_t write(const std::uint8_t* buf, std::uint32_t len,
                        std::uint32_t& written) override {
        {
            std::lock_guard lock(mutex_);
            written = writeLimit_ < 0 || writeLimit_ >= len
                          ? len
                          : static_cast<std::uint32_t>(writeLimit_);
            record_.writes.push_back(len);
        }
        // Outside the lock: the handler may answer at once through push().
        if (onWrite_ && written > 0) onWrite_(buf, written);
        return 0;
    }
    void cancel() override {}
    std::uint32_t close() override {
        std::lock_guard lock(mutex_);
        record_.closed = true;
        return 0;
    }

  private:
    mutable std::mutex mutex_;
    WriteHandler onWrite_;
    std::vector<std::uint8_t> rx_;
    std::size_t rxPos_ = 0;
    std::uint32_t readFailure_ = 0;
    bool hungUp_ = false;
    std::int64_t writeLimit_ = -1;
    bool outputBusy_ = false;
    std::uint32_t modem_ = 0;
    Record record_;
};

}  // namespace kyvo
