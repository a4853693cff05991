// Connects the window's events to the controller's handlers and lets the
// window show the controller's measurement list, which the controller edits.
#pragma once

#include "app/Main.h"
#include "ui/MainWindow.h"

namespace kyvo {

// language gives the window's own texts.
void wireWindow(TMainWindow& window, TForm_Main& controller, ILanguage* language,
                const ICollation* collation);

// After a language change: the controller's captions, hints and window
// caption in the new language, then the window's own texts.
void applyLanguageTexts(TMainWindow& window, TForm_Main& controller);

}  // namespace kyvo
