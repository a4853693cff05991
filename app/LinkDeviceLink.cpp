#include "app/LinkDeviceLink.h"

#include <cstring>

#include "link/posix/SerialPortList.h"
#include "link/posix/TermiosPort.h"

namespace kyvo {

namespace {
std::string FixedText(const char* p, std::size_t n) {
    return std::string(p, strnlen(p, n));
}

TFTDIDeviceEntry ToEntry(const tFT_device_list_info_node& n) {
    TFTDIDeviceEntry e;
    e.Flags = n.flags;
    e.ID = n.id;
    e.Serial = FixedText(n.serial, sizeof n.serial);
    e.Description = FixedText(n.description, sizeof n.description);
    return e;
}
}  // namespace

LinkDeviceLink::LinkDeviceLink(IMainThread& mainThread, bool suspended, bool useFtdi,
                               std::unique_ptr<FTDIDirect> ftdi)
    : serial_(std::make_unique<TSeriellThread>(true, mainThread, TSeriellThread::kDefaultBufferSize,
                                               std::move(ftdi))) {
    serial_->OnReceive = [this](TSeriellThread*) {
        if (OnReceive) OnReceive();
    };
    serial_->OnError = [this](TSeriellThread*, TSeriellError e) {
        if (!OnError) return;
        OnError(e == Err_NotAllSend       ? ELinkError::NotAllSend
                : e == Err_PortNotOpen    ? ELinkError::PortNotOpen
                : e == Err_ConnectionLost ? ELinkError::ConnectionLost
                                          : ELinkError::Unknown);
    };
    if (useFtdi && serial_->ftdi().isValid()) serial_->SetftdiMode(true);
    bluetooth_ = std::make_unique<TBluetoothThread>(true, serial_.get(), 1, 38400);
    if (!suspended) serial_->Start();
}

LinkDeviceLink::~LinkDeviceLink() {
    bluetooth_.reset();
    serial_.reset();
}

bool LinkDeviceLink::OpenFtdi(int deviceIndex, int baud) {
    return serial_->OpenPort(deviceIndex, baud, false);
}

bool LinkDeviceLink::OpenSerial(const std::string& portName, int baud) {
    if (factory_) {
        auto port = factory_(portName);
        return port && serial_->OpenPort(std::move(port), baud);
    }
    return serial_->OpenPort(portName, baud);
}

TFTDIDeviceEntry LinkDeviceLink::CurrentDevice() const {
    if (!serial_->ftdiMode()) return {};
    return ToEntry(serial_->ftdiCurrentDevice());
}

bool LinkDeviceLink::UpdateDeviceList(std::vector<TFTDIDeviceEntry>& devices, int& error,
                                      int limitMs) {
    devices.clear();
    const auto status = serial_->ftdi().updateDeviceList(static_cast<std::uint32_t>(limitMs));
    if (status != 0) {
        error = static_cast<int>(status);
        return false;
    }
    for (const auto& n : serial_->ftdi().deviceInfoList()) devices.push_back(ToEntry(n));
    return true;
}

std::vector<std::string> LinkDeviceLink::GetComPorts() {
    std::vector<std::string> ports;
    for (auto& p : listSerialPorts(sysRoot_, devRoot_)) ports.push_back(std::move(p.Path));
    return ports;
}

void LinkDeviceLink::SetLineFormat(const TLineFormat& f) {
    serial_->countOfBits = f.DataBits;
    serial_->parity =
        f.Parity >= 0 && f.Parity <= 4 ? static_cast<tParity>(f.Parity) : FT_PARITY_NONE;
    serial_->stopBits =
        f.StopBits >= 0 && f.StopBits <= 2 ? static_cast<tStopBits>(f.StopBits) : FT_STOP_BITS_1;
}

EOpenFailure LinkDeviceLink::LastOpenFailure() const {
    const std::uint32_t e = serial_->GetErrorCode();
    switch (e) {
        case 0:
            return EOpenFailure::None;
        case kErrPortMissing:
        case kErrFtdiBit | FT_DEVICE_NOT_FOUND:
            return EOpenFailure::Missing;
        case kErrPortInUse:
        case kErrFtdiBit | FT_DEVICE_NOT_OPENED:
            return EOpenFailure::InUse;
        case kErrPortNotPermitted:
        case kErrFtdiBit | FTDI_PORT_NOT_PERMITTED:
            return EOpenFailure::NotPermitted;
        default:
            return EOpenFailure::Other;
    }
}

std::vector<TSerialPortEntry> LinkDeviceLink::OtherSerialPorts() {
    std::vector<TSerialPortEntry> ports;
    const auto& cables = serial_->ftdi().deviceInfoList();
    for (auto& p : listSerialPorts(sysRoot_, devRoot_)) {
        // A cable the FTDI device list holds is offered there already.
        bool listed = false;
        if (serial_->ftdiMode() && p.UsbId == kKyvoCableId)
            for (const auto& n : cables)
                if (n.id == kKyvoCableId && FixedText(n.serial, sizeof n.serial) == p.UsbSerial)
                    listed = true;
        if (!listed) ports.push_back({std::move(p.Path), std::move(p.Description)});
    }
    return ports;
}

}  // namespace kyvo
