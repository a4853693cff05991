#include "link/SeriellThread.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "link/posix/TermiosPort.h"

namespace kyvo {

namespace {

std::uint32_t withFtdiBit(FT_STATUS status) {
    return status == 0 ? 0 : (status | kErrFtdiBit);
}

// FTDI mode: the D2XX binding behind the port interface.
class FtdiPort final : public ISerialPort {
  public:
    FtdiPort(FTDIDirect& ftdi, FT_HANDLE handle) : ftdi_(ftdi), handle_(handle) {}
    ~FtdiPort() override {
        if (handle_) ftdi_.close(handle_);
    }
    FT_HANDLE handle() const { return handle_; }

    std::uint32_t configure(const tLineSettings& s, bool dtr, bool rts) override {
        std::uint32_t error = withFtdiBit(ftdi_.reset(handle_));
        if (FT_STATUS st = ftdi_.setBaudrate(handle_, static_cast<std::uint32_t>(s.baudRate)))
            error = withFtdiBit(st);
        FT_STATUS own = 0;
        if (s.dataBits != 7 && s.dataBits != 8) own = FTDI_INVALID_WORD_SIZE;
        if (s.stopBits == FT_STOP_BITS_1_5) own = FTDI_INVALID_STOP_BITS;
        if (own != 0) {
            error = withFtdiBit(own);
        } else if (FT_STATUS st = ftdi_.setDataCharacteristics(
                       handle_, static_cast<std::uint8_t>(s.dataBits), s.stopBits, s.parity)) {
            error = withFtdiBit(st);
        }
        ftdi_.setDTR(handle_, dtr);
        ftdi_.setRTS(handle_, rts);
        return error;
    }
    std::uint32_t setDTR(bool on) override { return withFtdiBit(ftdi_.setDTR(handle_, on)); }
    std::uint32_t setRTS(bool on) override { return withFtdiBit(ftdi_.setRTS(handle_, on)); }
    bool getModemStatus(std::uint32_t&) override { return false; }
    void purge(bool tx, bool rx) override {
        if (tx) ftdi_.purge(handle_, 2);
        if (rx) ftdi_.purge(handle_, 1);
    }
    std::uint32_t readWaiting(std::uint8_t* buf, std::uint32_t maxLen,
                              std::uint32_t& len) override {
        len = maxLen;
        const FT_STATUS st = ftdi_.read(handle_, buf, maxLen, len);
        // What a driver says for a device that was unplugged.
        if (st == FT_IO_ERROR || st == FT_DEVICE_NOT_FOUND) gone_ = true;
        return st;
    }
    bool hungUp() const override { return gone_; }
    bool readyToSend() override { return true; }
    std::uint32_t write(const std::uint8_t* buf, std::uint32_t len,
                        std::uint32_t& written) override {
        written = len;
        FT_STATUS st = ftdi_.write(handle_, buf, len, written);
        if (written > len) written = len;
        return st;
    }
    void cancel() override {}
    std::uint32_t close() override {
        FT_HANDLE h = handle_;
        handle_ = nullptr;
        return h ? withFtdiBit(ftdi_.close(h)) : 0;
    }

  private:
    FTDIDirect& ftdi_;
    FT_HANDLE handle_;
    bool gone_ = false;  // under the worker's reception lock
};

tFT_device_list_info_node invalidDevice() {
    tFT_device_list_info_node node{};
    std::memcpy(node.description, "invalid", 8);
    return node;
}

}  // namespace

std::string comPortDevicePath(std::int32_t portNumber) {
    if (portNumber < 1) return {};
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::string comPortDevicePath(const std::string& portName) {
    if (portName.empty()) return {};
    if (portName.find('/') == 0) return portName;
    if (portName.size() > 3 && upperCaseAscii(portName.substr(0, 3)) == "COM") {
        std::uint32_t n = 0;
        if (strToCardinal(portName.substr(3), n) && n <= 0x7FFFFFFF)
            return comPortDevicePath(static_cast<std::int32_t>(n));
    }
    return "/dev/" + portName;
}

namespace {
std::mutex defaultDecoratorMutex;
TSeriellThread::PortDecorator defaultDecorator;

TSeriellThread::PortDecorator currentDefaultDecorator() {
    std::lock_guard lock(defaultDecoratorMutex);
    return defaultDecorator;
}
}  // namespace

TSeriellThread::ScopedDefaultPortDecorator::ScopedDefaultPortDecorator(PortDecorator decorator) {
    std::lock_guard lock(defaultDecoratorMutex);
    previous_ = std::exchange(defaultDecorator, std::move(decorator));
}

TSeriellThread::ScopedDefaultPortDecorator::~ScopedDefaultPortDecorator() {
    std::lock_guard lock(defaultDecoratorMutex);
    defaultDecorator = std::move(previous_);
}

TSeriellThread::TSeriellThread(bool CreateSuspended, IMainThread& mainThread,
                               std::int32_t BufferSize, std::unique_ptr<FTDIDirect> ftdi)
    : mainThread_(mainThread),
      RxPuffer(BufferSize, false),
      TxPuffer(BufferSize, false),
      ftdi_(ftdi ? std::move(ftdi) : std::make_unique<FTDIDirect>()),
      decorator_(currentDefaultDecorator()) {
    if (!CreateSuspended) Start();
}

TSeriellThread::~TSeriellThread() {
    Ende.store(true);
    {
        std::lock_guard lock(wakeMutex_);
        wake_.notify_all();
    }
    waiter_.wake();
    if (worker_.joinable()) {
        // The worker may be blocked on a notification for this thread; run
        // it (it is skipped now that Ende is set) so the worker can end.
        while (!workerDone_.load()) {
            mainThread_.runPending();
            std::unique_lock lock(wakeMutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(1), [&] { return workerDone_.load(); });
        }
        worker_.join();
    }
    ClosePort();
}

void TSeriellThread::Start() {
    if (worker_.joinable() || Ende.load()) return;
    worker_ = std::thread([this] { execute(); });
}

void TSeriellThread::execute() {
    using Clock = std::chrono::steady_clock;
    // Woken rounds come at any time, so the bus hold runs on the clock.
    auto busClock = Clock::now();
    // Watching the port is left for one plain round after bytes came (a
    // burst is taken in chunks, as in fixed rounds) and while the port fails
    // or reports readiness without bytes (a hung-up line stays readable).
    bool watchPort = true;
    while (!Ende.load()) {
        bool hasPort = false;
        int fd = -1;
        {
            std::lock_guard lock(criticalRx);
            if (port_) {
                hasPort = true;
                fd = port_->pollFd();
            }
        }
        if (!waiter_.ok() || (hasPort && fd < 0)) {
            {
                std::unique_lock lock(wakeMutex_);
                wake_.wait_for(lock, std::chrono::milliseconds(kRoundMs),
                               [&] { return Ende.load(); });
            }
            if (Ende.load()) break;
            Round();
            busClock = Clock::now();
            watchPort = true;
            continue;
        }
        const bool busy = TxPuffer.GetCount() > 0 || fBusHoldBusyTime.load() > 0;
        const bool watch = hasPort && watchPort;
        const bool plainRound = busy || (hasPort && !watchPort);
        const auto woke = waiter_.wait(watch ? fd : -1, plainRound ? kRoundMs : kIdleWaitMs);
        if (Ende.load()) break;
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - busClock);
        if (elapsed.count() > 0) {
            advanceBusHold(
                static_cast<std::int32_t>(std::min<std::int64_t>(elapsed.count(), 1000)));
            busClock += elapsed;
        }
        std::uint32_t got = 0;
        const bool received = receive(got);
        SendBuffer();
        watchPort = !hasPort || (received && got == 0 && !woke.portReady);
    }
    std::lock_guard lock(wakeMutex_);
    workerDone_.store(true);
    wake_.notify_all();
}

void TSeriellThread::Round() {
    UpdateBusState();
    ReadSeriell();
    SendBuffer();
}

void TSeriellThread::UpdateBusState() {
    advanceBusHold(kRoundMs);
}

void TSeriellThread::advanceBusHold(std::int32_t ms) {
    std::int32_t hold = fBusHoldBusyTime.load();
    if (hold <= ms) {
        fBusHoldBusyTime.store(0);
        fBusState.store(bsIDLE);
    } else {
        fBusHoldBusyTime.store(hold - ms);
    }
}

void TSeriellThread::busHold(std::int32_t ms) {
    fBusState.store(bsACTIVE);
    if (fBusHoldBusyTime.load() < ms) fBusHoldBusyTime.store(ms);
}

bool TSeriellThread::OpenPort(std::int32_t portID, std::int32_t Baud, bool portIDAsLocID) {
    ClosePort();
    clear();
    BaudRate_ = Baud;
    std::uint32_t error = 0;
    std::shared_ptr<ISerialPort> port;
    bool ftdiPort = false;
    if (opener_) {
        port = opener_(portID, portIDAsLocID, error);
    } else if (fFTDIMode) {
        port = openFtdi(portID, portIDAsLocID, error);
        ftdiPort = true;
    } else {
        std::string path = comPortDevicePath(portID);
        port = TermiosPort::open(path, error);
        if (port) portPath_ = path;
    }
    if (!port && error == 0) error = ftdiPort ? withFtdiBit(FT_INVALID_HANDLE) : kErrPortMissing;
    return openWith(std::move(port), error, portID, portIDAsLocID, ftdiPort);
}

bool TSeriellThread::OpenPort(const std::string& portName, std::int32_t Baud) {
    ClosePort();
    clear();
    BaudRate_ = Baud;
    std::string path = comPortDevicePath(portName);
    std::uint32_t error = kErrPortMissing;
    std::shared_ptr<ISerialPort> port;
    if (!path.empty()) port = TermiosPort::open(path, error);
    if (port) portPath_ = path;
    return openWith(std::move(port), error, 0, false, false);
}

bool TSeriellThread::OpenPort(std::shared_ptr<ISerialPort> port, std::int32_t Baud) {
    ClosePort();
    clear();
    BaudRate_ = Baud;
    std::uint32_t error = port ? 0 : kErrPortMissing;
    return openWith(std::move(port), error, 0, false, false);
}

std::shared_ptr<ISerialPort> TSeriellThread::openFtdi(std::int32_t portID, bool portIDAsLocID,
                                                      std::uint32_t& error) {
    FT_HANDLE handle = nullptr;
    FT_STATUS st = ftdi_->openEx(portID, handle, portIDAsLocID);
    if (st != 0 || !handle) {
        error = withFtdiBit(st != 0 ? st : FT_INVALID_HANDLE);
        return nullptr;
    }
    ftdi_->setTimeOuts(handle, 1000, 1000);
    error = 0;
    return std::make_shared<FtdiPort>(*ftdi_, handle);
}

bool TSeriellThread::openWith(std::shared_ptr<ISerialPort> port, std::uint32_t openError,
                              std::int32_t portID, bool portIDAsLocID, bool ftdiPort) {
    LastError.store(openError);
    if (!port) {
        portPath_.clear();
        return false;
    }
    if (decorator_) {
        const std::string name = ftdiPort ? "FTDI device " + std::to_string(portID) : portPath_;
        if (auto decorated = decorator_(port, name)) port = std::move(decorated);
    }
    std::uint32_t error = 0;
    {
        // Configured and purged before the worker may touch it.
        std::scoped_lock lock(criticalRx, criticalTx);
        tLineSettings settings{BaudRate_, countOfBits, stopBits, parity};
        error = port->configure(settings, fDTR, fRTS);
        port->purge(true, true);
        if (error != 0) {
            port->close();
        } else {
            port_ = port;
            portIsFtdi_ = ftdiPort;
            lostReported_ = false;
        }
    }
    if (error != 0) {
        portPath_.clear();
        LastError.store(error);
        return false;
    }
    LastError.store(0);
    fFTDICurrentIdx = portID;
    fFTDIOpendByLocID = portIDAsLocID;
    Open.store(true);
    waiter_.wake();
    return true;
}

bool TSeriellThread::ClosePort() {
    if (!Open.load()) return false;
    closing_.store(true);
    std::unique_lock rxLock(criticalRx);
    std::shared_ptr<ISerialPort> port = port_;
    // A transmission in progress gives up first: the descriptor must not be
    // closed under a writer that could then write to a reused one.
    if (port) port->cancel();
    std::unique_lock txLock(criticalTx);
    bool ok = true;
    if (port) {
        port->purge(true, true);
        std::uint32_t status = port->close();
        ok = status == 0;
        LastError.store(portIsFtdi_ ? status : 0);
    }
    port_.reset();
    portPath_.clear();
    Open.store(false);
    closing_.store(false);
    // The worker may still be waiting on the closed descriptor.
    waiter_.wake();
    return ok;
}

void TSeriellThread::SetftdiMode(bool Value) {
    if (Value == fFTDIMode) return;
    ClosePort();
    fFTDIMode = Value && ftdi_->isValid();
}

tFT_device_list_info_node TSeriellThread::GetftdiCurrentDevice() {
    if (!Open.load()) return invalidDevice();
    if (!portIsFtdi_ && !portPath_.empty()) {
        // A COM port is described by its device path; the FTDI list has
        // nothing to say about it.
        tFT_device_list_info_node node{};
        std::snprintf(node.description, sizeof node.description, "%s", portPath_.c_str());
        return node;
    }
    const auto& list = ftdi_->deviceInfoList();
    const auto count = static_cast<std::size_t>(ftdi_->deviceCount());
    if (fFTDIOpendByLocID) {
        for (std::size_t i = 0; i < count && i < list.size(); ++i) {
            if (list[i].locId == static_cast<std::uint32_t>(fFTDICurrentIdx)) return list[i];
        }
        return invalidDevice();
    }
    if (fFTDICurrentIdx >= 0 && static_cast<std::size_t>(fFTDICurrentIdx) < count &&
        static_cast<std::size_t>(fFTDICurrentIdx) < list.size())
        return list[static_cast<std::size_t>(fFTDICurrentIdx)];
    return tFT_device_list_info_node{};
}

bool TSeriellThread::GetByte(std::uint8_t& B) {
    return Open.load() && RxPuffer.Get(B);
}

bool TSeriellThread::ReadByte(std::uint8_t& B) {
    return Open.load() && RxPuffer.Read(B);
}

bool TSeriellThread::read(tByteBuffer& rdBuffer, std::int32_t maxRead) {
    if (!Open.load()) {
        rdBuffer.clear();
        return false;
    }
    return RxPuffer.Read(rdBuffer, maxRead);
}

void TSeriellThread::clear() {
    RxPuffer.Clear();
    TxPuffer.Clear();
}

bool TSeriellThread::SendByte(std::uint8_t B) {
    if (!Open.load()) return false;
    if (TxPuffer.Add(B)) {
        waiter_.wake();
        return true;
    }
    if (OnRxBufferFull) OnRxBufferFull(this);
    return false;
}

bool TSeriellThread::Send(const tByteBuffer& buffer) {
    if (!Open.load()) return false;
    if (TxPuffer.Add(buffer)) {
        waiter_.wake();
        return true;
    }
    waiter_.wake();
    if (OnRxBufferFull) OnRxBufferFull(this);
    return false;
}

bool TSeriellThread::Send(const std::string& Str) {
    if (!Open.load()) return false;
    for (char c : Str) {
        if (!TxPuffer.Add(static_cast<std::uint8_t>(c))) {
            // The bytes before the refused one still go out.
            waiter_.wake();
            if (OnRxBufferFull) OnRxBufferFull(this);
            return false;
        }
    }
    waiter_.wake();
    return true;
}

void TSeriellThread::raiseOnMain(Event which) {
    auto task = [this, which] {
        // Once destruction has begun the handlers' owners may be gone.
        if (Ende.load()) return;
        switch (which) {
            case Event::Receive:
                if (OnReceive) OnReceive(this);
                break;
            case Event::RxBufferFull:
                if (OnRxBufferFull) OnRxBufferFull(this);
                break;
            case Event::Error:
                if (OnError) OnError(this, serError);
                break;
        }
    };
    mainThread_.runAndWait(task);
}

bool TSeriellThread::ReadSeriell() {
    std::uint32_t got = 0;
    return receive(got);
}

bool TSeriellThread::receive(std::uint32_t& got) {
    got = 0;
    if (!Open.load()) return false;
    std::uint32_t error = 0;
    bool refused = false;
    bool lost = false;
    {
        std::lock_guard lock(criticalRx);
        if (!port_) return false;
        error = port_->readWaiting(rxTmpBuffer, kChunkSize, got);
        if (error != 0 && !lostReported_ && port_->hungUp()) lost = lostReported_ = true;
        if (got > kChunkSize) got = kChunkSize;
        if (portIsFtdi_) LastError.store(error);
        if (error == 0 && got > 0) {
            busHold(5);
            refused = !RxPuffer.Add(rxTmpBuffer, static_cast<std::int32_t>(got));
        }
    }
    if (error != 0) {
        LastError.store(LastError.load() | kErrFtdiBit);
        // A passing read error is left to the application's time-outs; a
        // line that is gone is said at once, so nobody waits for it.
        if (lost) {
            serError = Err_ConnectionLost;
            raiseOnMain(Event::Error);
        }
        return false;
    }
    if (got > 0) {
        if (refused) raiseOnMain(Event::RxBufferFull);
        raiseOnMain(Event::Receive);
    }
    return true;
}

bool TSeriellThread::SendBuffer() {
    if (!Open.load()) return false;
    std::uint32_t taken = 0;
    std::uint32_t written = 0;
    std::uint32_t status = 0;
    {
        std::lock_guard lock(criticalTx);
        if (!port_ || !port_->readyToSend()) return false;
        taken = static_cast<std::uint32_t>(
            TxPuffer.Take(txTmpBuffer, static_cast<std::int32_t>(kChunkSize)));
        if (taken == 0) return false;
        busHold(20);
        status = port_->write(txTmpBuffer, taken, written);
        if (status != 0) LastError.store(status | kErrFtdiBit);
    }
    if (written < taken || status != 0) {
        // Bytes cut off by a close were discarded on purpose, like a purge.
        if (closing_.load()) return false;
        serError = Err_NotAllSend;
        raiseOnMain(Event::Error);
        return false;
    }
    return true;
}

void TSeriellThread::Note(const std::string& text) {
    if (Open.load() && port_) port_->note(text);
}

void TSeriellThread::Set_DTR(bool OnOff) {
    fDTR = OnOff;
    if (Open.load() && port_) port_->setDTR(OnOff);
}

void TSeriellThread::SET_RTS(bool OnOff) {
    fRTS = OnOff;
    if (Open.load() && port_) port_->setRTS(OnOff);
}

void TSeriellThread::GetStatus() {
    if (!Open.load() || !port_ || portIsFtdi_) return;
    std::uint32_t bits = 0;
    if (!port_->getModemStatus(bits)) bits = 0;
    CTS = bits & kModemCTS;
    DSR = bits & kModemDSR;
    RI = bits & kModemRI;
    RLSD = bits & kModemRLSD;
}

std::string TSeriellThread::GetErrorMessage(std::uint32_t ErrorCode) {
    const char* text = "Unbekannter Fehler";
    switch (ErrorCode) {
        case 2:
            text = "Port existiert nicht";
            break;
        case 5:
            text = "Port wird schon verwendet";
            break;
        case 0x8001:
            text = "FTDI: Ungültiges Handle";
            break;
        case 0x8002:
            text = "FTDI: Gerät nicht verfügbar";
            break;
        case 0x81FA:
            text = "FTDI: Invalid Stop Bits";
            break;
        case 0x81FB:
            text = "FTDI: Invalid Word Size";
            break;
        case 0x81FC:
            text = "FTDI: Kein gültiges Gerät ausgewählt";
            break;
        case 0x81FE:
            text = "FTDI: DLL Funktion not supported";
            break;
        case 0x81FF:
            text = "FTDI: DLL Error";
            break;
        default:
            break;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X", ErrorCode);
    return std::string(text) + " (0x" + hex + ")";
}

std::uint32_t TSeriellThread::setCBusOutput(std::uint8_t dataDirection, std::uint8_t outputValue) {
    auto* port = Open.load() && portIsFtdi_ ? dynamic_cast<FtdiPort*>(port_.get()) : nullptr;
    if (!port) {
        LastError.store(kErrFtdiPortClosed);
        return kErrFtdiPortClosed;
    }
    std::uint32_t error =
        withFtdiBit(ftdi_->setCBusOutput(port->handle(), dataDirection, outputValue));
    LastError.store(error);
    return error;
}

std::int32_t TSeriellThread::getComPortNumber() {
    auto* port = Open.load() && portIsFtdi_ ? dynamic_cast<FtdiPort*>(port_.get()) : nullptr;
    if (!port) {
        LastError.store(kErrFtdiPortClosed);
        return -1;
    }
    return ftdi_->getComPortNumber(port->handle());
}

std::string TSeriellThread::getParityString() const {
    switch (parity) {
        case FT_PARITY_NONE:
            return "none";
        case FT_PARITY_ODD:
            return "odd";
        case FT_PARITY_EVEN:
            return "even";
        case FT_PARITY_MARK:
            return "mark";
        case FT_PARITY_SPACE:
            return "space";
    }
    return {};
}

std::string TSeriellThread::getStopBitsString() const {
    switch (stopBits) {
        case FT_STOP_BITS_1:
            return "1";
        case FT_STOP_BITS_1_5:
            return "1.5";
        case FT_STOP_BITS_2:
            return "2";
    }
    return {};
}

}  // namespace kyvo
