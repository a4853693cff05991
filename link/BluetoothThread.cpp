#include "link/BluetoothThread.h"

#include <algorithm>
#include <filesystem>

#include "protocol/ByteBuffer.h"

namespace kyvo {

namespace fs = std::filesystem;

TBluetoothThread::TBluetoothThread(bool, TSeriellThread* Schnittstelle, std::int32_t Port,
                                   std::int32_t Baud, std::string sysRoot, std::string devRoot)
    : SerialThread(Schnittstelle),
      Baudrate(Baud),
      PreferredPort(Port),
      sysRoot_(std::move(sysRoot)),
      devRoot_(std::move(devRoot)) {}

TBluetoothThread::~TBluetoothThread() {
    Finish = true;
}

void TBluetoothThread::GetComPorts(std::vector<std::string>& ComPorts) {
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysRoot_) / "sys/class/tty", ec);
    if (ec) return;
    bool anyTty = false;
    std::vector<std::pair<std::uint32_t, std::string>> found;
    for (const auto& entry : it) {
        anyTty = true;
        // An rfcomm tty exists while the port is bound to a Bluetooth device:
        // that is the serial port service of a paired device.
        std::string name = entry.path().filename().string();
        if (name.rfind("rfcomm", 0) != 0) continue;
        std::uint32_t number = 0;
        if (!strToCardinal(name.substr(6), number)) continue;
        found.emplace_back(number, (fs::path(devRoot_) / name).string());
    }
    if (!anyTty) return;
    std::sort(found.begin(), found.end());
    ComPorts.clear();
    for (auto& [number, path] : found) ComPorts.push_back(std::move(path));
}

void TBluetoothThread::Restart() {
    if (Finish) return;
    ThreadState = TSStart;  // no worker threads are ever kept
}

}  // namespace kyvo
