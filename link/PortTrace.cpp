#include "link/PortTrace.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace kyvo {

namespace {

std::tm localTime(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    return tm;
}

char parityLetter(tParity p) {
    switch (p) {
        case FT_PARITY_ODD:
            return 'O';
        case FT_PARITY_EVEN:
            return 'E';
        case FT_PARITY_MARK:
            return 'M';
        case FT_PARITY_SPACE:
            return 'S';
        case FT_PARITY_NONE:
            break;
    }
    return 'N';
}

const char* stopBitsText(tStopBits s) {
    switch (s) {
        case FT_STOP_BITS_1_5:
            return "1.5";
        case FT_STOP_BITS_2:
            return "2";
        case FT_STOP_BITS_1:
            break;
    }
    return "1";
}

}  // namespace

std::shared_ptr<TPortTrace> TPortTrace::open(const std::string& path, const std::string& program,
                                             std::string& error) {
    std::FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "a");
    if (!f) {
        error = path.empty() ? "no file name given" : std::strerror(errno);
        return nullptr;
    }
    // Unbuffered: each line is one write, and a refused line leaves nothing
    // behind in a buffer to come out later.
    std::setvbuf(f, nullptr, _IONBF, 0);
    std::shared_ptr<TPortTrace> trace(new TPortTrace(f));
    char date[32];
    const std::tm tm = localTime(trace->wallStart_);
    std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
    trace->note(std::string("trace started ") + date + (program.empty() ? "" : " by " + program));
    // A file that opens but takes nothing (/dev/full, a full disk, a
    // quota) is found here, before the device is opened, not after the run.
    if (trace->failed_) {
        error = trace->failure_;
        return nullptr;
    }
    trace->started_ = true;
    return trace;
}

void TPortTrace::onWriteFailure(WriteFailureHandler handler) {
    std::lock_guard lock(mutex_);
    onWriteFailure_ = std::move(handler);
}

TPortTrace::TPortTrace(std::FILE* file)
    : file_(file),
      wallStart_(std::chrono::system_clock::now()),
      steadyStart_(std::chrono::steady_clock::now()) {}

TPortTrace::~TPortTrace() {
    if (started_ && failed_) {
        // Room may have come back (another program freed space): say that
        // lines are missing, so that nobody takes the file for the whole run.
        std::clearerr(file_);
        const std::string line = (midLine_ ? "\n" : "") + stamp() +
                                 " # trace incomplete: lines were lost (" + failure_ + ")\n";
        std::fwrite(line.data(), 1, line.size(), file_);
    }
    std::fclose(file_);
}

std::string TPortTrace::stamp() const {
    using namespace std::chrono;
    const auto now =
        wallStart_ + duration_cast<system_clock::duration>(steady_clock::now() - steadyStart_);
    const std::tm tm = localTime(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    return text;
}

void TPortTrace::writeLine(const std::string& line) {
    // Called with the lock held.
    if (failed_) return;
    errno = 0;
    const std::size_t written = std::fwrite(line.data(), 1, line.size(), file_);
    if (written == line.size()) return;
    failed_ = true;
    midLine_ = written > 0;
    failure_ = errno != 0 ? std::strerror(errno) : "the file took no more";
    if (started_ && onWriteFailure_) onWriteFailure_(failure_);
}

void TPortTrace::bytes(char direction, const std::uint8_t* data, std::size_t len) {
    static const char hex[] = "0123456789ABCDEF";
    std::lock_guard lock(mutex_);
    const std::string head = stamp() + ' ' + direction + ' ';
    for (std::size_t at = 0; at < len; at += kBytesPerLine) {
        const std::size_t n = std::min(kBytesPerLine, len - at);
        std::string line = head;
        std::string text;
        for (std::size_t i = 0; i < kBytesPerLine; ++i) {
            if (i < n) {
                const std::uint8_t b = data[at + i];
                line += hex[b >> 4];
                line += hex[b & 0x0F];
                line += ' ';
                text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
            } else {
                line += "   ";
            }
        }
        line += " |" + text + "|\n";
        writeLine(line);
    }
}

void TPortTrace::note(const std::string& text) {
    std::lock_guard lock(mutex_);
    writeLine(stamp() + " # " + text + "\n");
}

TTracingPort::TTracingPort(std::shared_ptr<ISerialPort> inner, std::shared_ptr<TPortTrace> trace,
                           std::string name)
    : inner_(std::move(inner)), trace_(std::move(trace)), name_(std::move(name)) {}

std::uint32_t TTracingPort::configure(const tLineSettings& s, bool dtr, bool rts) {
    const std::uint32_t status = inner_->configure(s, dtr, rts);
    std::string text = "open " + (name_.empty() ? std::string("port") : name_) + ", " +
                       std::to_string(s.baudRate) + " baud " + std::to_string(s.dataBits) +
                       parityLetter(s.parity) + stopBitsText(s.stopBits);
    if (status != 0) text += ", failed with code " + std::to_string(status);
    trace_->note(text);
    return status;
}

std::uint32_t TTracingPort::readWaiting(std::uint8_t* buf, std::uint32_t maxLen,
                                        std::uint32_t& len) {
    const std::uint32_t status = inner_->readWaiting(buf, maxLen, len);
    if (status == 0 && len > 0) trace_->bytes('<', buf, len);
    if (status != lastReadError_) {
        trace_->note(status != 0 ? "read failed with code " + std::to_string(status)
                                 : std::string("reading again"));
        lastReadError_ = status;
    }
    return status;
}

std::uint32_t TTracingPort::write(const std::uint8_t* buf, std::uint32_t len,
                                  std::uint32_t& written) {
    // Noted before the write: an answer read meanwhile on the worker must
    // not appear ahead of the request that caused it.
    trace_->bytes('>', buf, len);
    const std::uint32_t status = inner_->write(buf, len, written);
    if (status != 0 || written < len)
        trace_->note("the port took " + std::to_string(written) + " of " + std::to_string(len) +
                     " bytes" + (status != 0 ? ", code " + std::to_string(status) : ""));
    return status;
}

std::uint32_t TTracingPort::close() {
    const std::uint32_t status = inner_->close();
    trace_->note("closed");
    return status;
}

TScopedPortTrace::TScopedPortTrace(const std::string& path, const std::string& program)
    : trace_(TPortTrace::open(path, program, error_)) {
    if (!trace_) return;
    scope_.emplace([trace = trace_](std::shared_ptr<ISerialPort> port, const std::string& name) {
        return std::make_shared<TTracingPort>(std::move(port), trace, name);
    });
}

void TScopedPortTrace::onWriteFailure(TPortTrace::WriteFailureHandler handler) {
    if (trace_) trace_->onWriteFailure(std::move(handler));
}

}  // namespace kyvo
