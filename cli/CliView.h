// The device session as a scripted command-line program presents it:
// questions are answered from the options, prompts and errors are printed,
// a long transfer draws a progress bar on a terminal, and every activity's
// end is kept with its outcome.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/DeviceSession.h"

namespace kyvo::cli {

class CliView final : public ISessionEvents {
  public:
    // Answers, set by the command.
    std::optional<std::string> ConfigFile;  // the configuration file (offered once)
    std::optional<int> StoredConfig;        // 0-based choice in the stored list
    bool YesToFormat = false;
    bool YesToCombine = false;
    bool Verbose = false;
    std::function<std::string(const TLangEntry&)> Lang;

    // What happened.
    std::vector<std::string> StoredConfigItems;
    bool StoredConfigAsked = false;
    bool ToldTimeOut = false;     // an error of kind time-out was printed
    bool ToldClosed = false;      // a printed error said the connection was closed
    std::optional<EOutcome> FirstError;  // the outcome of the first error printed
    int CloseAllowedCount = 0;
    int MeasurementsAdded = 0;
    std::optional<TStorageBuildResult> StoredRead;
    // The archive could not take what the run handed it (the last such
    // report, until a later hand-over got everything in).
    std::optional<TArchiveReport> ArchiveTrouble;

    // The end of the last activity of this kind, if it ended.
    std::optional<EOutcome> EndOf(EActivity a) const;
    // Forgets the ends heard so far.
    void ForgetEnds() { ends_.clear(); }

    void StateEntered(std::uint8_t state) override;
    void ReadPhase(EReadStep step) override;
    void ProgressShown(bool visible) override;
    void ProgressRange(int max) override { progressMax_ = max; }
    void ProgressAt(int position) override;
    void CloseAllowed() override { ++CloseAllowedCount; }
    void Prompt(const std::string& text) override;
    void Error(const TSessionError& e) override;
    void Notice(ENotice n, const std::string& text) override;
    EAddDecision AskAddOrOverwrite() override { return EAddDecision::Add; }
    bool AskCombine() override { return YesToCombine; }
    std::optional<EConfigSource> AskConfigSource() override { return std::nullopt; }
    std::optional<std::string> ChooseConfigFile(const std::string& startFolder) override;
    std::optional<int> ChooseStoredConfiguration(const std::vector<std::string>& items) override;
    bool ConfirmTagPlaced() override;
    bool ConfirmFormat() override { return YesToFormat; }
    void StoredDataRead(const TStorageBuildResult& r) override { StoredRead = r; }
    void MeasurementAdded(const TMeasureSet&) override { ++MeasurementsAdded; }
    void ActivityEnded(EActivity a, EOutcome o) override { ends_.push_back({a, o}); }
    void ArchiveFed(const TArchiveReport& r) override {
        if (r.Unreachable)
            ArchiveTrouble = r;
        else if (r.Waiting == 0)
            ArchiveTrouble.reset();
    }

    void EndProgress();

  private:
    struct End {
        EActivity Activity;
        EOutcome Outcome;
    };
    std::vector<End> ends_;
    std::string lastPrompt_;
    bool progressVisible_ = false;
    bool progressDrawn_ = false;
    int progressMax_ = 0;
};

// "a\r\nb" -> "a\nb".
std::string PlainText(const std::string& text);

// The exit status an activity that ended so earns (the table of
// cli/CliOptions.h).
int ExitStatusOf(EOutcome o);

}  // namespace kyvo::cli
