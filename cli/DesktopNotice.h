// A desktop notification through the freedesktop notification service, for
// reads that happen with nobody at the keyboard.
#pragma once

#include <functional>
#include <string>

#include "files/LanguageEntries.h"

namespace kyvo::cli {

// "Reader 1807 0042: 5 new measurements" for the reader that identified
// itself as serial ("12 3 1807 0042": its last two words name it), in the
// program's language (lang gives an entry's text).
std::string ReaderNoticeText(const std::string& serial, std::size_t fresh,
                             const std::function<std::string(const TLangEntry&)>& lang);

// Shows text as a notification when the desktop session's bus is there
// (DBUS_SESSION_BUS_ADDRESS, or the user's bus socket) and `gdbus` is
// installed; otherwise does nothing. Never waits for it: the call goes out
// in a child process of its own, reaped by later calls and by Reap().
void NotifyDesktop(const std::string& text);
// Collects notification processes that have ended.
void ReapNotifications();

}  // namespace kyvo::cli
