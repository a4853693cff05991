#include "app/LinkDeviceLink.h"

#include <cstring>

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
        OnError(e == Err_NotAllSend    ? ELinkError::NotAllSend
                : e == Err_PortNotOpen ? ELinkError::PortNotOpen
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
    bluetooth_->GetComPorts(ports);
    return ports;
}

}  // namespace kyvo
