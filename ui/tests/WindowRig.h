// The real window as the controller's view, on a virtual clock, with the
// serial worker stepped every 5 virtual ms and the simulated demo device
// behind a loopback port.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <memory>

#include "app/LinkDeviceLink.h"
#include "app/Main.h"
#include "app/VirtualScheduler.h"
#include "app/tests/MemKeyStore.h"
#include "link/MainThread.h"
#include "sim/SimDevice.h"
#include "ui/FormMessageBox.h"
#include "ui/MainWindow.h"
#include "ui/QtPlatform.h"
#include "ui/WindowWiring.h"

namespace kyvo::test {

using kyvo::testing::MemKeyStore;

// English, or a second language with a few translated entries.
class TwoLanguages final : public ILanguage {
  public:
    bool Second = false;
    std::map<std::uint32_t, std::string> Translated;
    std::string Text(const TLangEntry& e) override {
        if (Second) {
            auto it = Translated.find(e.ID);
            if (it != Translated.end()) return it->second;
        }
        return std::string(e.Def);
    }
};

// Clicks a button of every own message box that opens while it lives and
// keeps the texts; answers are taken in order, Yes/OK when they run out.
class MessageAnswerer : public QObject {
  public:
    enum Button { First, Second, Third };
    explicit MessageAnswerer(std::vector<Button> answers = {}) : answers_(std::move(answers)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }
    QStringList Seen;

  private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<TForm_OwnMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            Seen << box->Label_Message->text();
            Button b = First;
            if (next_ < answers_.size()) b = answers_[next_++];
            (b == First    ? box->Button_OK
             : b == Second ? box->Button_Cancel
                           : box->Button_Aux)
                ->click();
        }
    }
    std::vector<Button> answers_;
    std::size_t next_ = 0;
    QTimer timer_;
};

class WindowRig {
  public:
    // userValues: user settings present before the controller is made
    // ("Section/Key" -> value).
    explicit WindowRig(const std::map<std::string, std::string>& userValues = {})
        : sched({2026, 12, 9, 12, 0, 0, 0}),
          link(mainThread, true, false, std::make_unique<FTDIDirect>(nullptr)),
          device(std::make_unique<sim::SimDevice>(sim::Scenario::demo())) {
        link.SetPortFactory([this](const std::string&) {
            port = std::make_shared<LoopbackPort>(
                [this](const std::uint8_t* d, std::size_t n) { device->receive(d, n); });
            return port;
        });
        sched.AddTickHook(5, [this] {
            device->advance(5);
            if (port) {
                const tByteBuffer out = device->takeOutput();
                if (!out.empty()) port->push(out);
            }
            if (link.IsOpen()) link.Worker().Round();
        });
        lang.Translated = {{3, "Verbinden"},     {4, "Trennen"},          {10, "Verbunden mit"},
                           {106, "Test-Nr."},    {25, "Testname"},        {113, "Messung starten"},
                           {117, "Daten lesen"}, {202, "Gültigkeit"},     {203, "Gültig"},
                           {204, "Ungültig"},    {205, "Kyvo abgelaufen"}};
        user.Values = userValues;
        TMainDeps deps;
        deps.View = &window;
        deps.Timers = &sched;
        deps.Clock = &sched;
        deps.Link = &link;
        deps.ProgSettings = &prog;
        deps.UserSettings = &user;
        deps.Language = &lang;
        deps.ConfigFolder = "/tmp/kyvo-ui-test/";
        deps.Collation = &collation;
        main = std::make_unique<TForm_Main>(deps);
        wireWindow(window, *main, &lang, &collation);
        window.resize(1000, 700);
        window.show();
    }
    ~WindowRig() {
        main->FormDestroy();
        main.reset();
    }

    void Start() {
        main->FormCreate();
        sched.Advance(200);
    }
    void Connect() {
        // A typed device path: the loopback to the simulator ignores the name.
        auto* com = static_cast<QComboBox*>(window.control(EControl::ComboBox_Com));
        if (com->currentText().isEmpty()) com->setEditText("/dev/pts/kyvo-sim");
        static_cast<QPushButton*>(window.control(EControl::Button_Open))->click();
        sched.Advance(3000);
    }
    void ReadStoredData() {
        static_cast<QPushButton*>(window.control(EControl::Button_ReadData))->click();
        sched.Advance(30000);
    }
    std::uint8_t State() const { return main->State().Current; }

    DirectMainThread mainThread;
    VirtualScheduler sched;
    MemKeyStore prog, user;
    TwoLanguages lang;
    QtCollation collation;
    LinkDeviceLink link;
    std::unique_ptr<sim::SimDevice> device;
    std::shared_ptr<LoopbackPort> port;
    TMainWindow window;
    std::unique_ptr<TForm_Main> main;
};

}  // namespace kyvo::test
