// Discovery of the Bluetooth serial ports present now. The object is a
// worker in name only: it is never started, and GetComPorts runs on the
// calling (main) thread. Ports are read from sysfs under an injectable root.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kyvo {

class TSeriellThread;

enum EThreadState { TSStart, TSRunning, TSRoundDone, TSIdle, TSRestart };

class TBluetoothThread {
  public:
    using TPortOpenEvent = std::function<void(TBluetoothThread* Sender, std::int32_t Port)>;
    using TListUpdateEvent =
        std::function<void(TBluetoothThread* Sender, const std::vector<std::string>& PortList)>;

    // sysRoot is the directory that stands for "/" (tests build a fake tree);
    // devRoot the directory of the device files named in the result.
    TBluetoothThread(bool CreateSuspended, TSeriellThread* Schnittstelle, std::int32_t Port,
                     std::int32_t Baud, std::string sysRoot = "/", std::string devRoot = "/dev");
    ~TBluetoothThread();

    // Replaces ComPorts with the device paths of the Bluetooth serial ports
    // (rfcomm ttys) present now, in port-number order. Leaves ComPorts as it
    // was when the system lists no tty at all (no sysfs to read).
    void GetComPorts(std::vector<std::string>& ComPorts);
    void Restart();

    EThreadState threadState() const { return ThreadState; }
    std::int32_t preferredPort() const { return PreferredPort; }
    std::int32_t baudrate() const { return Baudrate; }

    TPortOpenEvent OnPortOpen;
    TListUpdateEvent OnUpdateList;

  private:
    std::vector<std::string> ComPortList;
    std::vector<std::string> ValidPortList;
    TSeriellThread* SerialThread;
    bool Finish = false;
    std::int32_t Baudrate;
    bool FirstRound = true;
    EThreadState ThreadState = TSStart;
    bool SyncEvents = true;
    std::int32_t PreferredPort;
    std::string sysRoot_;
    std::string devRoot_;
};

}  // namespace kyvo
