// The controller's files: paths, the two settings files and the language
// file opened as the program starts, seen through the controller's
// IKeyStore and ILanguage; and saving the measurement list to result files
// through the view's dialogs.
#pragma once

#include <memory>
#include <string>

#include "app/AppServices.h"
#include "app/View.h"
#include "files/ConfigFile.h"
#include "files/FileErrorReporter.h"
#include "files/LanguageFile.h"
#include "files/LanguageMenu.h"
#include "files/Paths.h"
#include "files/ResultFileWriter.h"

namespace kyvo {

class TForm_Main;

class ConfigKeyStore final : public IKeyStore {
  public:
    explicit ConfigKeyStore(TConfigFile& f) : f_(f) {}
    std::string GetText(const std::string& head, const std::string& item,
                        const std::string& def) override {
        return f_.GetVal(head, item, std::string_view(def));
    }
    std::string GetTextNoDefault(const std::string& head, const std::string& item) override {
        return f_.GetVal(head, item);
    }
    int GetInt(const std::string& head, const std::string& item, int def) override {
        return f_.GetVal(head, item, static_cast<std::int32_t>(def));
    }
    bool GetBool(const std::string& head, const std::string& item, bool def) override {
        return f_.GetVal(head, item, def);
    }
    void SetText(const std::string& head, const std::string& item,
                 const std::string& value) override {
        f_.SetVal(head, item, std::string_view(value));
    }
    void SetInt(const std::string& head, const std::string& item, int value) override {
        f_.SetVal(head, item, static_cast<std::int32_t>(value));
    }
    void SetBool(const std::string& head, const std::string& item, bool value) override {
        f_.SetVal(head, item, value);
    }

  private:
    TConfigFile& f_;
};

class FileLanguage final : public ILanguage {
  public:
    explicit FileLanguage(TLanguageFile& f) : f_(f) {}
    std::string Text(const TLangEntry& entry) override { return f_.GetLanguageString(entry); }

  private:
    TLanguageFile& f_;
};

// The settings and language files of one program run. Destroying it saves
// the user settings file (never the program settings file) and the
// language file.
class TAppFiles {
  public:
    // Sets up the paths for "DRConfig.ini" and programName, opens both
    // settings files and the language file. Failures are reported through
    // reporter and the program goes on with defaults.
    void Open(const std::string& programName, IFileErrorReporter* reporter,
              tPathsEnvironment environment = systemPathsEnvironment());

    IKeyStore& Prog() { return *progStore_; }
    IKeyStore& User() { return *userStore_; }
    ILanguage& Language() { return *language_; }
    TConfigFile& ProgFile() { return *prog_; }
    TConfigFile& UserFile() { return *user_; }
    TLanguageFile& LanguageFile() { return *languageFile_; }
    const std::string& ConfigFolder() const { return Paths.configPath; }

    tPaths Paths;
    TLanguageMenu Menu;

  private:
    std::unique_ptr<TConfigFile> prog_, user_;
    std::unique_ptr<TLanguageFile> languageFile_;
    std::unique_ptr<ConfigKeyStore> progStore_, userStore_;
    std::unique_ptr<FileLanguage> language_;
};

// Copies into user every translated entry (heads other than "English") that
// shipped has and user lacks; texts already in user stay as they are.
void AddMissingTranslations(TLanguageFile& user, const TLanguageFile& shipped);

// The result-file dialogs of the window over the view: the save dialog
// starts in the controller's DefaultDir with its LastUsedFile; a chosen file
// becomes both (and the two settings items).
class ViewResultFileDialogs final : public IResultFileDialogs {
  public:
    ViewResultFileDialogs(IMainView& view, TForm_Main& main, IKeyStore& user, ILanguage& lang)
        : view_(view), main_(main), user_(user), lang_(lang) {}
    std::optional<std::string> ChooseSaveFile() override;
    void RememberResultFile(const std::string& path) override;
    EDialogAnswer AskYesNoCancel(const TLangEntry& question) override;
    void ShowMessage(const TLangEntry& text, const TLangEntry* caption,
                     const std::string& detail) override;

  private:
    IMainView& view_;
    TForm_Main& main_;
    IKeyStore& user_;
    ILanguage& lang_;
};

// Binds the controller's SaveMeasureList to the result-file writer with the
// given layout and tracking file, asking through dialogs (which must
// outlive the controller).
void BindResultFileSaving(TForm_Main& main, IResultFileDialogs& dialogs, ETSVVersion layout,
                          const std::string& trackingFile);

// Binds the controller's LoadMeasureFile to the result-file reader with the
// given layout, reporting through dialogs and sorting with collation (the
// std fallback when null); dialogs and collation must outlive the controller.
void BindResultFileLoading(TForm_Main& main, IResultFileDialogs& dialogs, ETSVVersion layout,
                           const ICollation* collation);

// The result layout of the "Setup"/"SaveTSVStyle" word.
ETSVVersion ReadTsvStyle(IKeyStore& prog);

}  // namespace kyvo
