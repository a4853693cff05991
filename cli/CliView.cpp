#include "cli/CliView.h"

#include <unistd.h>

#include <iostream>

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

void CliView::SetItems(EControl c, const std::vector<std::string>& items) {
    items_[c] = items;
    if (c == EControl::ComboBox_FTDIDevice) FtdiItems = items;
}

int CliView::ItemIndex(EControl c) {
    // The port is the one the options name, never one picked from a list.
    if (c == EControl::ComboBox_Com) return -1;
    if (c == EControl::ComboBox_FTDIDevice) return FtdiItem;
    auto it = index_.find(c);
    return it == index_.end() ? -1 : it->second;
}

std::string CliView::EditText(EControl c) {
    if (c == EControl::ComboBox_Com) return PortPath;
    if (c == EControl::ComboBox_Baud) {
        if (!Baud.empty()) return Baud;
        const auto& items = items_[c];
        const int i = index_.count(c) ? index_[c] : -1;
        return i >= 0 && i < static_cast<int>(items.size()) ? items[i] : std::string();
    }
    return {};
}

void CliView::SetStatusText(int panel, const std::string& text) {
    if (Verbose && panel == 0 && !text.empty()) std::cerr << "status: " << text << "\n";
}

void CliView::SetProgressVisible(bool visible) {
    if (!visible) EndProgress();
    progressVisible_ = visible;
}

void CliView::EndProgress() {
    if (progressDrawn_) std::cerr << "\r\033[K" << std::flush;
    progressDrawn_ = false;
}

void CliView::SetProgressPosition(int position) {
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

EModalResult CliView::ShowMessageBox(const std::string& text, const std::string& caption,
                                     EMsgStyle style, const TMessageButtons&) {
    EndProgress();
    Messages.push_back({text, caption, style});
    if (Answer) {
        if (auto a = Answer(text, style)) return *a;
    }
    switch (style) {
        case EMsgStyle::OK:
            return EModalResult::OK;
        case EMsgStyle::OKCancel:
            return EModalResult::OK;
        case EMsgStyle::YesNo:
            return EModalResult::No;
        case EMsgStyle::YesNoCancel:
            return EModalResult::Cancel;
    }
    return EModalResult::Cancel;
}

EModalResult CliView::ShowConfigList(const std::string&, const std::string&,
                                     const std::vector<std::string>& items, int& selected) {
    StoredConfigItems = items;
    if (!StoredConfig || *StoredConfig < 0 || *StoredConfig >= static_cast<int>(items.size()))
        return EModalResult::Cancel;
    selected = *StoredConfig;
    return EModalResult::OK;
}

std::optional<std::string> CliView::ShowFileDialog(const TFileDialogRequest& request) {
    if (request.Kind == EFileDialog::OpenConfig && ConfigFile) {
        auto path = ConfigFile;
        ConfigFile.reset();  // a rejected file is not offered again
        return path;
    }
    return std::nullopt;
}

void CliView::ShowEvaluationInfo(const std::string& text) {
    if (text == lastPrompt_) return;
    lastPrompt_ = text;
    EndProgress();
    std::cout << "device: " << PlainText(text) << std::endl;
}

}  // namespace kyvo::cli
