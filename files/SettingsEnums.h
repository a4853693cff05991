#pragma once

// Enumerations the main window takes from the settings files. Header-only, so
// the result-file code and the window share one definition.

#include <cstdint>

namespace kyvo {

// Result file layout; the numbers are those the result-file reader reports.
enum ETSVVersion : std::uint8_t {
    TSVVLong = 0,
    TSVVShort = 1,
    TSVVUnknown = 2,  // a header that matches no layout
    TSVVTobrel = 3,
    TSVEmpty = 4,  // no header
};

// Where the line image is drawn.
enum EImagePos : std::uint8_t { SLeft, SRight, SFull, SNone };

// What newly read or measured data does to the present list.
enum EAddDataBehaviour : std::uint8_t { AlwaysAsk, AlwaysAdd, AlwaysOverwrite };

// Where a measurement takes its test configuration from.
enum ETestSource : std::uint8_t { TSKyvo, TSLocal, TSSelect };

// Serial line parity and stop bits; the numbers are the FTDI driver's codes
// (FT_PARITY_NONE ... FT_PARITY_SPACE, FT_STOP_BITS_1, _1_5, _2), so the link
// layer can pass them on unchanged.
enum EParity : std::uint8_t {
    ParityNone = 0,
    ParityOdd = 1,
    ParityEven = 2,
    ParityMark = 3,
    ParitySpace = 4,
};
enum EStopBits : std::uint8_t { StopBits1 = 0, StopBits1_5 = 1, StopBits2 = 2 };

// The main window's size when the settings hold none.
inline constexpr int kDefaultWindowWidth = 874;
inline constexpr int kDefaultWindowHeight = 624;

}  // namespace kyvo
