#include "files/LanguageFile.h"

namespace kyvo {

namespace {

constexpr std::string_view kEnglish = "English";

// The number an item name stands for when it is written exactly as the
// program writes IDs (decimal, no sign, no leading zero); 0 otherwise.
std::uint64_t canonicalNumber(std::string_view name) {
    if (name.empty() || name.size() > 10 || name[0] == '0') return 0;
    std::uint64_t n = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

}  // namespace

void TLanguageFile::SetVal(std::string_view Head, std::uint32_t Item, std::string_view Val) {
    const std::string line = std::to_string(Item) + " = " + QuotedValue(Val);
    const int h = FindHead(Head);
    if (h < 0) {
        Lines.emplace_back();
        Lines.push_back("[" + CleanLine(Head) + "]");
        Lines.push_back(line);
        return;
    }
    int first = 0;
    int last = 0;
    SectionRange(h, first, last);
    if (last < 0) last = static_cast<int>(Lines.size()) - 1;
    // One pass finds what the search for Item, Item - 1, ... 1 would find:
    // the first line of the largest number not above Item.
    int bestLine = -1;
    std::uint64_t bestNumber = 0;
    for (int i = first; i <= last; ++i) {
        const std::string clean = CleanLine(Lines[i]);
        const auto eq = clean.find('=');
        if (eq == std::string::npos) continue;
        const std::uint64_t n = canonicalNumber(std::string_view(clean).substr(0, eq));
        if (n == 0 || n > Item || n <= bestNumber) continue;
        bestNumber = n;
        bestLine = i;
    }
    if (bestLine >= 0 && bestNumber == Item)
        Lines[bestLine] = line;
    else
        Lines.insert(Lines.begin() + (bestLine >= 0 ? bestLine : h) + 1, line);
}

std::string TLanguageFile::GetVal(std::string_view Head, std::string_view Item) const {
    std::string text;
    FindValue(Head, Item, text);
    return text;
}

int TLanguageFile::CountHeads() const {
    int count = 0;
    for (const std::string& line : Lines)
        if (!GetLineHead(line).empty()) ++count;
    return count;
}

std::string TLanguageFile::GetHeadName(int Index) const {
    int count = 0;
    for (const std::string& line : Lines) {
        std::string name = GetLineHead(line);
        if (!name.empty() && ++count == Index) return name;
    }
    return {};
}

std::string TLanguageFile::GetLanguageString(const TLangEntry& entry) {
    std::string text = GetVal(CurrentLanguage, std::to_string(entry.ID));
    if (!text.empty()) return text;
    if (entry.ID != kEmptyLangID) SetVal(kEnglish, entry.ID, entry.Def);
    return std::string(entry.Def);
}

std::string TLanguageFile::GetLanguageString(std::uint32_t Index) const {
    const std::string item = std::to_string(Index);
    std::string text;
    if (FindValue(CurrentLanguage, item, text) && !text.empty()) return text;
    if (FindValue(kEnglish, item, text)) return text;
    return {};
}

}  // namespace kyvo
