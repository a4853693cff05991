// A spy on the line: every byte the program writes to the device and reads
// from it, with the time of day to the millisecond and the direction, as
// hex and as printable text. Support asks a user with a misbehaving device
// for exactly this file.
//
// One line per read or write chunk (chunks over 16 bytes go on further
// lines with the same time and direction):
//
//   12:03:04.123 > FE 20 AA 8A                                       |. ..|
//   12:03:04.131 < FE 20 55 75                                       |. Uu|
//   12:03:04.140 # closed
//
// ">" goes to the device, "<" comes from it, "#" is a note (port opened or
// closed, a failed read or write). The file is opened for appending, so
// runs collect in one file, each starting with a "#" line that holds the
// date; every line is written at once so a crash keeps what came before.
// A file that takes the start line but later refuses lines (disk full, a
// quota, a file size limit) ends the trace: the owner hears of it once, and
// at the end, when the file takes anything again, a "#" line says that the
// trace is incomplete.
// Times are the wall clock at the start plus a steady clock since then, so
// they never run backwards within a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "link/SerialPort.h"
#include "link/SeriellThread.h"

namespace kyvo {

class TPortTrace {
  public:
    // Opens (creates or appends to) the file and writes the start line with
    // the date and the program (name and version). Null and a reason in
    // error when the file cannot be opened or does not take the start line
    // (/dev/full, a full disk).
    static std::shared_ptr<TPortTrace> open(const std::string& path, const std::string& program,
                                            std::string& error);
    ~TPortTrace();
    TPortTrace(const TPortTrace&) = delete;
    TPortTrace& operator=(const TPortTrace&) = delete;

    // Any thread. direction is '>' (to the device) or '<' (from it).
    void bytes(char direction, const std::uint8_t* data, std::size_t len);
    void note(const std::string& text);

    // Called once, on the thread whose line the file refused, with the
    // reason ("No space left on device"); no line is written after that.
    // The handler must not write to the trace.
    using WriteFailureHandler = std::function<void(const std::string& reason)>;
    void onWriteFailure(WriteFailureHandler handler);

    static constexpr std::size_t kBytesPerLine = 16;

  private:
    explicit TPortTrace(std::FILE* file);
    std::string stamp() const;
    void writeLine(const std::string& line);

    std::mutex mutex_;
    std::FILE* file_;
    bool started_ = false;  // the start line is in the file
    bool failed_ = false;   // the file stopped taking lines (disk full); tracing ends
    bool midLine_ = false;  // the refused line went in part
    std::string failure_;   // why
    WriteFailureHandler onWriteFailure_;
    std::chrono::system_clock::time_point wallStart_;
    std::chrono::steady_clock::time_point steadyStart_;
};

// The decorator: forwards everything to the port it wraps and tells the
// trace what went over the line. name says which port in the open note.
class TTracingPort final : public ISerialPort {
  public:
    TTracingPort(std::shared_ptr<ISerialPort> inner, std::shared_ptr<TPortTrace> trace,
                 std::string name);

    std::uint32_t configure(const tLineSettings& settings, bool dtr, bool rts) override;
    std::uint32_t setDTR(bool on) override { return inner_->setDTR(on); }
    std::uint32_t setRTS(bool on) override { return inner_->setRTS(on); }
    bool getModemStatus(std::uint32_t& bits) override { return inner_->getModemStatus(bits); }
    void purge(bool tx, bool rx) override { inner_->purge(tx, rx); }
    std::uint32_t readWaiting(std::uint8_t* buf, std::uint32_t maxLen, std::uint32_t& len) override;
    bool readyToSend() override { return inner_->readyToSend(); }
    std::uint32_t write(const std::uint8_t* buf, std::uint32_t len,
                        std::uint32_t& written) override;
    void cancel() override { inner_->cancel(); }
    std::uint32_t close() override;
    int pollFd() const override { return inner_->pollFd(); }
    bool hungUp() const override { return inner_->hungUp(); }
    void note(const std::string& text) override { trace_->note(text); }

  private:
    std::shared_ptr<ISerialPort> inner_;
    std::shared_ptr<TPortTrace> trace_;
    std::string name_;
    // A failing line fails every round: only a change of the code is noted.
    std::uint32_t lastReadError_ = 0;
};

// A front end's --trace FILE: while it lives, every serial port object
// created traces its ports into FILE. Set up in main() before the layers
// above create their port object.
class TScopedPortTrace {
  public:
    // program: name and version for the start line.
    TScopedPortTrace(const std::string& path, const std::string& program);
    // False when the file cannot be written; error() then says why.
    bool ok() const { return trace_ != nullptr; }
    const std::string& error() const { return error_; }
    // See TPortTrace::onWriteFailure; nothing happens when !ok().
    void onWriteFailure(TPortTrace::WriteFailureHandler handler);

  private:
    std::string error_;
    std::shared_ptr<TPortTrace> trace_;
    std::optional<TSeriellThread::ScopedDefaultPortDecorator> scope_;
};

}  // namespace kyvo
