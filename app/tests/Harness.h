// The scenario harness: the controller with a scripted fake view, in-memory
// settings, the English texts, a virtual clock, the serial worker created
// suspended and stepped every 5 virtual ms, and the simulated device behind
// a loopback port.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/LinkDeviceLink.h"
#include "app/Main.h"
#include "app/VirtualScheduler.h"
#include "app/tests/MemKeyStore.h"
#include "link/MainThread.h"
#include "protocol/tests/KyvoTestSupport.h"
#include "sim/SimDevice.h"

namespace kyvo::testing {

struct ShownMessage {
    std::string Text;
    std::string Caption;
    EMsgStyle Style;
    std::uint8_t StateDuring;
    bool DefaultNo = false;  // Enter would answer with the second button
};

class FakeView final : public IMainView {
  public:
    // What the controller showed.
    std::map<EControl, std::string> Texts, Hints;
    std::map<EControl, bool> Enabled, Visible, Checked;
    std::map<EControl, std::vector<std::string>> Items;
    std::map<EControl, int> ItemIndexes;
    std::map<EControl, EPanelColour> Colours;
    std::string Caption;
    std::string Status;
    std::string Feedback;  // status panel 2: what the last read or save did
    std::vector<std::string> StatusHistory;
    bool ProgressVisible = false;
    int ProgressMax = 0, ProgressPosition = 0, ProgressMaxSeen = 0;
    std::vector<std::pair<int, int>> ProgressTrail;  // (position, maximum) of every move
    std::map<EList, int> Counts;
    std::vector<ShownMessage> Messages;
    std::vector<TFileDialogRequest> FileDialogs;
    std::vector<std::vector<std::string>> ConfigLists;
    std::vector<std::string> Prompts;
    bool PromptVisible = false;
    int CloseRequests = 0;
    int SelectedMeasurement = -1;
    TLocalDateTime Picker;
    bool PickerFocus = false;
    bool Active = true;
    int SelectionCount = 0;
    std::function<std::uint8_t()> CurrentState;  // for ShownMessage::StateDuring
    // Runs while a message box is open, as the event loop of a modal box does.
    std::function<void()> WhileMessageShown;

    // Answers, taken in order; an empty queue answers OK (or cancels a file
    // dialog, a selection or a configuration list).
    std::deque<EModalResult> MessageAnswers;
    std::deque<std::optional<std::string>> FileAnswers;
    std::deque<std::optional<int>> SelectAnswers;
    std::deque<std::optional<int>> ConfigAnswers;
    std::string ComEditText = "sim";
    std::string BaudEditText = "38400";

    bool IsEnabled(EControl c) const {
        auto it = Enabled.find(c);
        return it != Enabled.end() && it->second;
    }
    std::string Text(EControl c) const {
        auto it = Texts.find(c);
        return it == Texts.end() ? std::string() : it->second;
    }
    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> v;
        for (const auto& m : Messages) v.push_back(m.Text);
        return v;
    }

    void SetText(EControl c, const std::string& t) override { Texts[c] = t; }
    void SetHint(EControl c, const std::string& h) override { Hints[c] = h; }
    void SetEnabled(EControl c, bool e) override { Enabled[c] = e; }
    void SetVisible(EControl c, bool v) override { Visible[c] = v; }
    void SetChecked(EControl c, bool v) override { Checked[c] = v; }
    void SetItems(EControl c, const std::vector<std::string>& items) override {
        Items[c] = items;
        ItemIndexes[c] = -1;
    }
    void SetItemIndex(EControl c, int i) override { ItemIndexes[c] = i; }
    int ItemIndex(EControl c) override {
        auto it = ItemIndexes.find(c);
        return it == ItemIndexes.end() ? -1 : it->second;
    }
    std::string EditText(EControl c) override {
        if (c == EControl::ComboBox_Baud) return BaudEditText;
        if (c == EControl::ComboBox_Com) return ComEditText;
        return {};
    }
    void SetCaption(const std::string& c) override { Caption = c; }
    void SetWindowIcon(const std::string&) override {}
    void RequestClose() override { ++CloseRequests; }
    bool IsApplicationActive() override { return Active; }
    TWindowGeometry Geometry() override { return {}; }
    void SetGeometry(const TWindowGeometry&) override {}
    void SetLanguageMenu(const std::vector<std::string>&, int) override {}
    void SetStatusText(int panel, const std::string& t) override {
        if (panel == 2) Feedback = t;
        if (panel != 0) return;
        Status = t;
        StatusHistory.push_back(t);
    }
    void SetProgressVisible(bool v) override { ProgressVisible = v; }
    void SetProgressMax(int m) override {
        ProgressMax = m;
        if (m > ProgressMaxSeen) ProgressMaxSeen = m;
    }
    void SetProgressPosition(int p) override {
        ProgressPosition = p;
        ProgressTrail.push_back({p, ProgressMax});
    }
    void SetListCount(EList l, int n) override { Counts[l] = n; }
    void RepaintList(EList) override {}
    int SelectedCount(EList) override { return SelectionCount; }
    void ClearSelection(EList) override { SelectionCount = 0; }
    void SelectMeasurement(int i) override { SelectedMeasurement = i; }
    void SetPickerDateTime(const TLocalDateTime& t) override { Picker = t; }
    TLocalDateTime PickerDateTime() override { return Picker; }
    bool PickerHasFocus() override { return PickerFocus; }
    void ClearPickerFocus() override { PickerFocus = false; }
    void SetPanelColour(EControl c, EPanelColour col) override { Colours[c] = col; }
    EModalResult ShowMessageBox(const std::string& text, const std::string& caption,
                                EMsgStyle style, const TMessageButtons& buttons) override {
        Messages.push_back({text, caption, style, CurrentState ? CurrentState() : std::uint8_t(0),
                            buttons.DefaultIsSecond});
        if (WhileMessageShown) WhileMessageShown();
        if (MessageAnswers.empty()) return EModalResult::OK;
        const EModalResult r = MessageAnswers.front();
        MessageAnswers.pop_front();
        return r;
    }
    EModalResult ShowInputQuery(const std::string&, const std::string&, std::string&,
                                const std::string&, const std::string&) override {
        return EModalResult::Cancel;
    }
    EModalResult ShowSelect(const std::string&, const std::string&, const std::vector<std::string>&,
                            int& selected, const std::string&, const std::string&) override {
        if (SelectAnswers.empty() || !SelectAnswers.front()) {
            if (!SelectAnswers.empty()) SelectAnswers.pop_front();
            return EModalResult::Cancel;
        }
        selected = *SelectAnswers.front();
        SelectAnswers.pop_front();
        return EModalResult::OK;
    }
    EModalResult ShowConfigList(const std::string&, const std::string&,
                                const std::vector<std::string>& items, int& selected) override {
        ConfigLists.push_back(items);
        if (ConfigAnswers.empty() || !ConfigAnswers.front()) {
            if (!ConfigAnswers.empty()) ConfigAnswers.pop_front();
            return EModalResult::Cancel;
        }
        selected = *ConfigAnswers.front();
        ConfigAnswers.pop_front();
        return EModalResult::OK;
    }
    void ShowInfoDialog(const TInfoDialogTexts&) override {}
    std::optional<std::string> ShowFileDialog(const TFileDialogRequest& r) override {
        FileDialogs.push_back(r);
        if (FileAnswers.empty()) return std::nullopt;
        auto a = FileAnswers.front();
        FileAnswers.pop_front();
        return a;
    }
    void ShowEvaluationInfo(const std::string& t) override {
        Prompts.push_back(t);
        PromptVisible = true;
    }
    void HideEvaluationInfo() override { PromptVisible = false; }
};

class EnglishLanguage final : public ILanguage {
  public:
    std::string Text(const TLangEntry& e) override { return std::string(e.Def); }
};

// One controller, one simulated device, one virtual clock.
class Rig {
  public:
    explicit Rig(const sim::Scenario& scenario,
                 const std::map<std::string, std::string>& userSettings = {},
                 const std::string& deviceMemoryFolder = {}, IMeasurementArchive* archive = nullptr,
                 const std::string& dataFolder = {})
        : sched({2026, 12, 9, 12, 0, 0, 0}),
          link(mainThread, true, false, std::make_unique<FTDIDirect>(nullptr)),
          device(std::make_unique<sim::SimDevice>(scenario)) {
        user.Values = userSettings;
        link.SetPortFactory([this](const std::string&) {
            port = std::make_shared<LoopbackPort>([this](const std::uint8_t* d, std::size_t n) {
                sent.insert(sent.end(), d, d + n);
                if (deviceAttached) device->receive(d, n);
            });
            return port;
        });
        sched.AddTickHook(5, [this] {
            device->advance(5);
            if (port) {
                const tByteBuffer out = device->takeOutput();
                if (deviceAttached && !out.empty()) port->push(out);
            }
            if (link.IsOpen()) link.Worker().Round();
        });
        TMainDeps deps;
        deps.View = &view;
        deps.Timers = &sched;
        deps.Clock = &sched;
        deps.Link = &link;
        deps.ProgSettings = &prog;
        deps.UserSettings = &user;
        deps.Language = &lang;
        deps.ConfigFolder = "/tmp/kyvo-config/";
        deps.DeviceMemoryFolder = deviceMemoryFolder;
        deps.Archive = archive;
        deps.DataFolder = dataFolder;
        main = std::make_unique<TForm_Main>(deps);
        view.CurrentState = [this] { return main->State().Current; };
    }

    // Start-up up to the end of the second stage.
    void Start() {
        main->FormCreate();
        sched.Advance(200);
    }
    void Connect(int settleMs = 3000) {
        main->Button_OpenClick();
        sched.Advance(settleMs);
    }
    void Run(std::int64_t ms) { sched.Advance(ms); }
    std::uint8_t State() const { return main->State().Current; }
    // A device frame as if the device had sent it: code and payload, framed
    // and escaped.
    void InjectFrame(std::uint8_t code, const tByteBuffer& payload) {
        port->push(test::wireFrame(code, payload));
    }
    std::size_t MessageCount() const { return view.Messages.size(); }

    DirectMainThread mainThread;
    VirtualScheduler sched;
    FakeView view;
    MemKeyStore prog, user;
    EnglishLanguage lang;
    LinkDeviceLink link;
    std::unique_ptr<sim::SimDevice> device;
    std::shared_ptr<LoopbackPort> port;
    bool deviceAttached = true;  // false: the device is unplugged (nothing arrives)
    tByteBuffer sent;
    std::unique_ptr<TForm_Main> main;
};

// A rig started and connected to its device, idle and ready.
struct Ready {
    explicit Ready(const sim::Scenario& s, std::map<std::string, std::string> settings = {})
        : rig(s, std::move(settings)) {
        rig.Start();
        rig.Connect();
        EXPECT_EQ(rig.State(), stReady);
    }
    Rig rig;
};

}  // namespace kyvo::testing
