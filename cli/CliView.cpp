#include "cli/CliView.h"

#include <unistd.h>

#include <iostream>

#include "cli/CliOptions.h"

namespace kyvo::cli {

std::string PlainText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') continue;
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<EOutcome> CliView::EndOf(EActivity a) const {
    for (auto it = ends_.rbegin(); it != ends_.rend(); ++it)
        if (it->Activity == a) return it->Outcome;
    return std::nullopt;
}

void CliView::StateEntered(std::uint8_t state) {
    if (!Verbose || !Lang) return;
    const std::string text = Lang(StateText(state));
    if (!text.empty()) std::cerr << "status: " << text << "\n";
}

void CliView::ReadPhase(EReadStep step) {
    if (Verbose && Lang) std::cerr << "status: " << Lang(ReadPhaseText(step)) << "\n";
}

void CliView::ProgressShown(bool visible) {
    if (!visible) EndProgress();
    progressVisible_ = visible;
}

void CliView::EndProgress() {
    if (progressDrawn_) std::cerr << "\r\033[K" << std::flush;
    progressDrawn_ = false;
}

void CliView::ProgressAt(int position) {
    // Only transfers long enough to watch, and only on a terminal.
    if (!progressVisible_ || progressMax_ < 4096 || !isatty(STDERR_FILENO)) return;
    const int width = 40;
    const int done = progressMax_ > 0
                         ? static_cast<int>(static_cast<long long>(position) * width / progressMax_)
                         : 0;
    std::string bar(static_cast<std::size_t>(std::min(done, width)), '#');
    bar.resize(width, '.');
    std::cerr << "\r[" << bar << "] " << position << " / " << progressMax_ << " bytes"
              << std::flush;
    progressDrawn_ = true;
}

void CliView::Error(const TSessionError& e) {
    EndProgress();
    std::string text = PlainText(e.Text);
    while (!text.empty() && text.front() == '\n') text.erase(0, 1);
    std::cerr << "kyvo-cli: " << (e.Caption.empty() ? "" : e.Caption + ": ") << text << "\n";
    ToldTimeOut |= e.Kind == EErrorKind::TimeOut && !text.empty();
    ToldClosed |= e.ConnectionClosed;
    if (!FirstError) {
        switch (e.Kind) {
            case EErrorKind::TimeOut:
                FirstError = EOutcome::TimeOut;
                break;
            case EErrorKind::Communication:
                FirstError = EOutcome::Communication;
                break;
            case EErrorKind::Device:
                FirstError = EOutcome::Device;
                break;
            case EErrorKind::File:
                FirstError = EOutcome::File;
                break;
            case EErrorKind::Connection:
                FirstError = EOutcome::Connection;
                break;
        }
    }
}

void CliView::Notice(ENotice n, const std::string& text) {
    EndProgress();
    switch (n) {
        case ENotice::NoStoredConfig:
            StoredConfigItems.clear();
            StoredConfigAsked = true;
            break;  // the command names the configuration asked for
        case ENotice::DeviceBusy:
        case ENotice::ConfigsDiffer:
            std::cerr << "kyvo-cli: " << PlainText(text) << "\n";
            break;
        case ENotice::Formatted:
        case ENotice::DatabaseEmpty:
        case ENotice::AbortedByUser:
            break;  // the command says what it did
    }
}

std::optional<std::string> CliView::ChooseConfigFile(const std::string&) {
    auto path = ConfigFile;
    ConfigFile.reset();  // a rejected file is not offered again
    return path;
}

std::optional<int> CliView::ChooseStoredConfiguration(const std::vector<std::string>& items) {
    StoredConfigItems = items;
    StoredConfigAsked = true;
    if (!StoredConfig || *StoredConfig < 0 || *StoredConfig >= static_cast<int>(items.size()))
        return std::nullopt;
    return *StoredConfig;
}

bool CliView::ConfirmTagPlaced() {
    EndProgress();
    if (Lang) std::cout << "device: " << PlainText(Lang(LE_PlaceOverTestCardWithTag)) << std::endl;
    return true;
}

void CliView::Prompt(const std::string& text) {
    if (text == lastPrompt_) return;
    lastPrompt_ = text;
    EndProgress();
    std::cout << "device: " << PlainText(text) << std::endl;
}

int ExitStatusOf(EOutcome o) {
    switch (o) {
        case EOutcome::Done:
            return kOk;
        case EOutcome::TimeOut:
            return kTimeOut;
        case EOutcome::Connection:
            return kNoDevice;
        case EOutcome::File:
            return kFileError;
        case EOutcome::Invalid:
            return kUsage;
        case EOutcome::Cancelled:
        case EOutcome::Busy:
        case EOutcome::Communication:
        case EOutcome::Device:
            break;
    }
    return kDeviceError;
}

}  // namespace kyvo::cli
