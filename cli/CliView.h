// The main window as a scripted command-line program sees it: questions are
// answered from the options, prompts and messages are printed, a long
// transfer draws a progress bar on a terminal.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/View.h"

namespace kyvo::cli {

// What a message shown by the controller means for the exit status.
struct TCliMessage {
    std::string Text;
    std::string Caption;
    EMsgStyle Style;
};

class CliView final : public IMainView {
  public:
    // Answers, set by the command.
    std::string PortPath;                   // typed into the COM port box
    std::string Baud;                       // empty: the preset of the baud box
    int FtdiItem = -1;                      // item of the FTDI device box
    std::optional<std::string> ConfigFile;  // answer of the configuration file dialog (once)
    std::optional<int> StoredConfig;        // 0-based choice in the stored list
    bool YesToFormat = false;
    bool YesToCombine = false;
    bool Verbose = false;
    // Called for every question; returns the answer or none for the default.
    std::function<std::optional<EModalResult>(const std::string& text, EMsgStyle style)> Answer;

    std::vector<TCliMessage> Messages;
    std::vector<std::string> StoredConfigItems;
    std::vector<std::string> FtdiItems;
    int CloseRequests = 0;
    TLocalDateTime Picker;

    void SetText(EControl, const std::string&) override {}
    void SetHint(EControl, const std::string&) override {}
    void SetEnabled(EControl c, bool e) override { enabled_[c] = e; }
    void SetVisible(EControl, bool) override {}
    void SetChecked(EControl, bool) override {}
    void SetItems(EControl c, const std::vector<std::string>& items) override;
    void SetItemIndex(EControl c, int index) override { index_[c] = index; }
    int ItemIndex(EControl c) override;
    std::string EditText(EControl c) override;
    void SetCaption(const std::string&) override {}
    void SetWindowIcon(const std::string&) override {}
    void RequestClose() override { ++CloseRequests; }
    bool IsApplicationActive() override { return false; }
    TWindowGeometry Geometry() override { return {}; }
    void SetGeometry(const TWindowGeometry&) override {}
    void SetLanguageMenu(const std::vector<std::string>&, int) override {}
    void SetStatusText(int panel, const std::string& text) override;
    void SetProgressVisible(bool visible) override;
    void SetProgressMax(int max) override { progressMax_ = max; }
    void SetProgressPosition(int position) override;
    void SetListCount(EList, int) override {}
    void RepaintList(EList) override {}
    int SelectedCount(EList) override { return 0; }
    void ClearSelection(EList) override {}
    void SelectMeasurement(int) override {}
    void SetPickerDateTime(const TLocalDateTime& t) override { Picker = t; }
    TLocalDateTime PickerDateTime() override { return Picker; }
    bool PickerHasFocus() override { return false; }
    void ClearPickerFocus() override {}
    void SetPanelColour(EControl, EPanelColour) override {}
    EModalResult ShowMessageBox(const std::string& text, const std::string& caption,
                                EMsgStyle style, const TMessageButtons& buttons) override;
    EModalResult ShowInputQuery(const std::string&, const std::string&, std::string&,
                                const std::string&, const std::string&) override {
        return EModalResult::Cancel;
    }
    EModalResult ShowSelect(const std::string&, const std::string&, const std::vector<std::string>&,
                            int&, const std::string&, const std::string&) override {
        return EModalResult::Cancel;  // the command fixes the source beforehand
    }
    EModalResult ShowConfigList(const std::string& caption, const std::string& okText,
                                const std::vector<std::string>& items, int& selected) override;
    void ShowInfoDialog(const TInfoDialogTexts&) override {}
    std::optional<std::string> ShowFileDialog(const TFileDialogRequest& request) override;
    void ShowEvaluationInfo(const std::string& text) override;
    void HideEvaluationInfo() override {}

    bool IsEnabled(EControl c) const {
        auto it = enabled_.find(c);
        return it != enabled_.end() && it->second;
    }
    void EndProgress();

  private:
    std::map<EControl, bool> enabled_;
    std::map<EControl, int> index_;
    std::map<EControl, std::vector<std::string>> items_;
    std::string lastPrompt_;
    bool progressVisible_ = false;
    bool progressDrawn_ = false;
    int progressMax_ = 0;
};

// "a\r\nb" -> "a\nb".
std::string PlainText(const std::string& text);

}  // namespace kyvo::cli
