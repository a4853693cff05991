// Shared pieces of the result file tests: a scratch folder, a scripted
// stand-in for the window's dialogs, and measure sets with every field set.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "files/AtomicFile.h"
#include "files/ResultFileReader.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"

namespace kyvo::testing {

class TScratchDir {
  public:
    TScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kyvo-rf-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_)) {
            out.push_back(e.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::filesystem::path path_;
};

// Answers every question and file choice from queues and records what the
// user was shown. An empty file queue means the dialog is cancelled.
class TScriptedDialogs : public IResultFileDialogs {
  public:
    std::deque<std::string> Files;
    std::deque<EDialogAnswer> Answers;
    std::vector<std::uint32_t> Questions;
    std::vector<std::uint32_t> Messages;  // entry IDs shown
    std::vector<std::uint32_t> Captions;  // caption IDs, 0 for none
    std::vector<std::string> Details;
    std::vector<std::string> Remembered;
    std::function<void()> OnMessage;  // e.g. the other instance letting go

    std::optional<std::string> ChooseSaveFile() override {
        if (Files.empty()) return std::nullopt;
        std::string f = Files.front();
        Files.pop_front();
        return f;
    }
    void RememberResultFile(const std::string& path) override { Remembered.push_back(path); }
    EDialogAnswer AskYesNoCancel(const TLangEntry& question) override {
        Questions.push_back(question.ID);
        if (Answers.empty()) return EDialogAnswer::Cancel;
        const EDialogAnswer a = Answers.front();
        Answers.pop_front();
        return a;
    }
    void ShowMessage(const TLangEntry& text, const TLangEntry* caption,
                     const std::string& detail) override {
        Messages.push_back(text.ID);
        Captions.push_back(caption ? caption->ID : 0);
        Details.push_back(detail);
        if (OnMessage) OnMessage();
    }
};

// A measurement with texts, two result rows, three lines and an image.
inline std::unique_ptr<TMeasureSet> sampleSet(const std::string& id, int seed = 0) {
    auto s = std::make_unique<TMeasureSet>();
    s->TestID = id;
    s->TestName = "CRP " + std::to_string(seed);
    s->LotNr = "L" + std::to_string(1000 + seed);
    s->Distr_Manu = "Acme Diagnostics";
    setDateData(s->DateTime, 17, 3, 15, 14, 5, static_cast<std::uint8_t>(seed % 60));
    s->UserComment = seed % 2 ? "" : "comment " + std::to_string(seed);
    s->Voltage = std::to_string(3700 + seed);
    s->Temperature = "23.50";
    s->ResultList.push_back({"Valid", "CRP", "12.5", "mg/l", ""});
    s->ResultList.push_back({"Valid", "Ratio", "", "", "positive"});
    s->MeasureResult.LineCount = 3;
    for (int i = 0; i < 3; ++i) {
        TLineResult& l = s->MeasureResult.Results().Line[static_cast<std::size_t>(i)];
        l.MeanValue = 100.25f + static_cast<float>(i + seed);
        l.MinValue = 2.0f;
        l.MaxValue = 250.5f;
        l.LeftMeanValue = 10.75f;
        l.RightMeanValue = 11.0f;
        l.MaxPosAbs = 120.0f;
        l.UsedPixel = 7;
        l.CenterPositionAbsolut = static_cast<std::int16_t>(-5 + i);
        l.Width = 12;
    }
    std::vector<std::int32_t> image;
    for (int k = 0; k < 40; ++k) image.push_back(100 + ((k * 37 + seed) % 3000));
    ScaleLineImage(*s, image);
    return s;
}

inline std::vector<std::string> fileLines(const std::string& path) {
    std::string bytes;
    if (!readFileBytes(path, bytes)) return {};
    return decodeTextLines(bytes);
}

inline std::string fileBytes(const std::string& path) {
    std::string bytes;
    readFileBytes(path, bytes);
    return bytes;
}

inline std::size_t tabs(std::string_view s) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\t'));
}

// The fields of a line, the text after the last tab dropped.
inline std::vector<std::string> fields(std::string_view line) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    for (std::size_t tab; (tab = line.find('\t', pos)) != std::string_view::npos; pos = tab + 1) {
        out.emplace_back(line.substr(pos, tab - pos));
    }
    return out;
}

}  // namespace kyvo::testing
