// The control block of the fake D2XX library the link tests load. The test
// reaches it through the exported FakeD2xx_State after loading the library.
#pragma once

#include <cstdint>

#include "link/FTDI_directDriver.h"

struct FakeD2xxState {
    int notReadyAnswers;  // CreateDeviceInfoList answers 19 this often; < 0: always
    int createCalls;
    std::uint32_t count;
    kyvo::tFT_device_list_info_node devices[4];

    std::uint32_t openStatus;  // every open fails with this when not 0
    int failOpenByLocation;    // opens by location fail, others work
    int openCalls;
    std::uint32_t lastOpenFlags;
    std::uintptr_t lastOpenLocation;
    char lastOpenSerial[32];
    int closes;

    std::uint32_t baudStatus;  // answer of FT_SetBaudRate
    std::uint32_t baud;
    std::uint8_t wordLength, stopBits, parity;
    int dataCharacteristicsCalls;
    int dtr, rts;
    int resets;
    std::uint32_t purgeMasks[8];
    int purgeCount;
    std::uint32_t readTimeout, writeTimeout;
    std::uint8_t bitMask, bitMode;

    std::uint8_t rx[65536];  // bytes the device sends
    std::uint32_t rxLen, rxPos;
    std::uint32_t readStatus;
    std::uint8_t tx[65536];  // bytes the program wrote
    std::uint32_t txLen;
    std::uint32_t writeLimit;  // 0: every byte is taken
    std::uint32_t writeStatus;
};

extern "C" FakeD2xxState* FakeD2xx_State();
