// A settings file from strangers: loaded as the program settings and as the
// user settings, every item read, heads enumerated, the write-backs of a
// session stored, saved and loaded again.
#include <cstdint>
#include <string>

#include "files/ConfigFile.h"
#include "files/Settings.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/KeyFileSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kyvo;
    const std::string folder = fuzz::scratchFolder();
    const std::string path = folder + "DRConfig.ini";
    fuzz::writeFile(path, data, size);
    fuzz::QuietReporter reporter;

    {
        TConfigFile prog(path, false, true, &reporter);
        const TProgramSettings p = ReadProgramSettings(prog);
        fuzz::keep(p.AppName);
        fuzz::keep(ReadCustomerSettings(prog).Logo);
    }
    TScreenGeometry screen{1920, 1080, 3840, 1080};
    for (int pass = 0; pass < 2; ++pass) {
        TConfigFile user(path, false, false, &reporter);
        for (int h = user.FindNextHead(0); h >= 0; h = user.FindNextHead(h + 1)) {
            int first = 0, last = 0;
            user.SectionRange(h, first, last);
            if (last < 0) last = static_cast<int>(user.Lines.size());
            const std::string head = TGenFile::GetLineHead(user.Lines[h]);
            for (int i = first; i < last; ++i) {
                const std::string item = TGenFile::GetLineItem(user.Lines[i]);
                fuzz::keep(user.GetVal(head, item));
                std::int32_t n = 0;
                parseSettingInteger(TGenFile::GetLineValue(user.Lines[i]), n);
            }
        }
        fuzz::keep(ReadLanguageFileName(user));
        fuzz::keep(ReadLanguageName(user));
        const TUserSettings s = ReadUserSettings(user, screen, folder);
        fuzz::keep(ResultDialogFolder(s, folder));
        StoreLanguageName(user, "Deutsch");
        StoreImagePosition(user, s.ImagePosition);
        StoreTestSource(user, s.TestSource);
        StoreAddDataBehaviour(user, s.AddDataBehaviour);
        StoreComPort(user, ReadComPort(user));
        StoreAutoConnect(user, ReadAutoConnect(user));
        StoreDefaultDir(user, s.DefaultDir);
        StoreLastUsedFile(user, s.LastUsedFile);
        StoreLastFTDIDevice(user, "FT230X Basic UART\tä");
        StoreSettingsAtExit(user, TWindowAtExit{s.Window.Left, s.Window.Top, s.Window.Width,
                                                s.Window.Height, s.Window.Maximised ? 2 : 0},
                            s.ImagePosition);
        user.save();
    }
    return 0;
}
