// IDeviceLink over the link layer's serial port object and port discovery.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/DeviceLink.h"
#include "link/BluetoothThread.h"
#include "link/MainThread.h"
#include "link/SerialPort.h"
#include "link/SeriellThread.h"

namespace kyvo {

class LinkDeviceLink final : public IDeviceLink {
  public:
    // Opens a port by name in place of the serial port object's own opening
    // (the in-process simulator); null: open the named device.
    using PortFactory = std::function<std::shared_ptr<ISerialPort>(const std::string& name)>;

    // suspended: the worker is not started and the owner steps it with
    // Worker().Round(). useFtdi: FTDI mode when the binding is usable (else
    // serial ports by name). ftdi null: the default binding.
    LinkDeviceLink(IMainThread& mainThread, bool suspended, bool useFtdi,
                   std::unique_ptr<FTDIDirect> ftdi = nullptr);
    ~LinkDeviceLink() override;

    void SetPortFactory(PortFactory f) { factory_ = std::move(f); }
    TSeriellThread& Worker() { return *serial_; }

    bool SendByte(std::uint8_t b) override { return serial_->SendByte(b); }
    bool SendBuffer() override { return serial_->SendBuffer(); }
    bool FtdiMode() const override { return serial_->ftdiMode(); }
    bool OpenFtdi(int deviceIndex, int baud) override;
    bool OpenSerial(const std::string& portName, int baud) override;
    void ClosePort() override { serial_->ClosePort(); }
    bool IsOpen() const override { return serial_->isOpen(); }
    bool GetByte(std::uint8_t& b) override { return serial_->GetByte(b); }
    TFTDIDeviceEntry CurrentDevice() const override;
    bool UpdateDeviceList(std::vector<TFTDIDeviceEntry>& devices, int& error, int limitMs) override;
    // Every serial port present now, by device path.
    std::vector<std::string> GetComPorts() override;
    void SetLineFormat(const TLineFormat& f) override;
    EOpenFailure LastOpenFailure() const override;
    std::vector<TSerialPortEntry> OtherSerialPorts() override;
    void Note(const std::string& text) override { serial_->Note(text); }
    // Where the port listing reads sysfs and names device files (tests).
    void SetDiscoveryRoots(std::string sysRoot, std::string devRoot) {
        sysRoot_ = std::move(sysRoot);
        devRoot_ = std::move(devRoot);
    }

  private:
    std::unique_ptr<TSeriellThread> serial_;
    std::unique_ptr<TBluetoothThread> bluetooth_;
    PortFactory factory_;
    std::string sysRoot_ = "/";
    std::string devRoot_ = "/dev";
};

}  // namespace kyvo
