// A result file from another site: its text decoded and its layout
// detected, every line parsed in each layout and written back; then the
// file loaded as the program loads it and saved, merged, in each layout.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "files/ResultFileReader.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/KeyFileSupport.h"

namespace {

using namespace kyvo;

class Dialogs final : public IResultFileDialogs {
  public:
    explicit Dialogs(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> ChooseSaveFile() override {
        if (chosen_) return std::nullopt;
        chosen_ = true;
        return path_;
    }
    void RememberResultFile(const std::string&) override {}
    EDialogAnswer AskYesNoCancel(const TLangEntry&) override { return EDialogAnswer::Yes; }
    void ShowMessage(const TLangEntry&, const TLangEntry*, const std::string&) override {}

  private:
    std::string path_;
    bool chosen_ = false;
};

constexpr ETSVVersion kLayouts[] = {TSVVLong, TSVVShort, TSVVTobrel};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = decodeTextLines(bytes);

    for (const ETSVVersion layout : kLayouts) {
        for (std::size_t i = 1; i < lines.size(); ++i) {
            TMeasureSet set;
            if (!ParseMeasureRow(lines[i], set, layout)) continue;
            fuzz::keep(TsvFirstField(lines[i]));
            // What the program writes it reads again, in the same layout.
            const std::string row = FormatMeasureRow(set, layout);
            TMeasureSet again;
            if (!ParseMeasureRow(row, again, layout)) __builtin_trap();
            for (const ETSVVersion other : kLayouts) fuzz::keep(FormatMeasureRow(set, other));
        }
    }

    const std::string folder = fuzz::scratchFolder();
    const std::string path = folder + "results.tsv";
    fuzz::writeFile(path, data, size);
    const ETSVVersion detected = lines.empty() ? TSVVLong : DetectTsvVersion(lines.front());
    const ETSVVersion layout =
        detected == TSVVShort || detected == TSVVTobrel ? detected : TSVVLong;
    TMeasureList list;
    Dialogs loadDialogs(path);
    LoadMeasureFile(path, layout, list, loadDialogs, TestIDUp);
    for (const ETSVVersion target : kLayouts) {
        // Merged into the file just loaded (same layout) and into fresh files.
        const std::string out = target == layout ? path : folder + "out.tsv";
        if (out != path) std::remove(out.c_str());
        Dialogs saveDialogs(out);
        TSaveRequest request;
        request.Layout = target;
        SaveMeasureList(list, request, saveDialogs);
    }
    return 0;
}
