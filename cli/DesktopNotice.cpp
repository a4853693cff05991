#include "cli/DesktopNotice.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace kyvo::cli {

namespace {

std::vector<pid_t>& Children() {
    static std::vector<pid_t> children;
    return children;
}

bool SessionBusThere() {
    if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) return true;
    // A user service started before the desktop exported the address still
    // finds the bus at its standard place.
    struct stat st {};
    const std::string path = "/run/user/" + std::to_string(getuid()) + "/bus";
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// A GVariant string literal: quoted, with backslash and quote escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string ReaderNoticeText(const std::string& serial, std::size_t fresh,
                             const std::function<std::string(const TLangEntry&)>& lang) {
    std::vector<std::string> words;
    std::string word;
    for (char c : serial + " ") {
        if (c == ' ') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    std::string name;
    if (words.size() >= 2)
        name = words[words.size() - 2] + " " + words.back();
    else if (!words.empty())
        name = words.back();
    if (name.empty()) name = "?";
    std::string text =
        lang(fresh == 1 ? LE_SyncReaderNewMeasurement : LE_SyncReaderNewMeasurements);
    // Each placeholder once, so that a name holding "%2" stays as it is.
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"%2", std::to_string(fresh)},
          std::pair<std::string, std::string>{"%1", name}})
        if (const auto at = text.find(mark); at != std::string::npos)
            text.replace(at, mark.size(), value);
    return text;
}

void NotifyDesktop(const std::string& text) {
    ReapNotifications();
    if (!SessionBusThere()) return;
    std::vector<std::string> args = {"gdbus",
                                     "call",
                                     "--session",
                                     "--dest",
                                     "org.freedesktop.Notifications",
                                     "--object-path",
                                     "/org/freedesktop/Notifications",
                                     "--method",
                                     "org.freedesktop.Notifications.Notify",
                                     Quoted("Kyvo Data Reader"),
                                     "0",
                                     Quoted("org.kyvo.DataReader"),
                                     Quoted(text),
                                     Quoted(""),
                                     "[]",
                                     "{}",
                                     "-1"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its answer and any complaint stay out of the command's own output.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    // Not installed: no notification, nothing else changes.
    if (posix_spawnp(&pid, "gdbus", &actions, nullptr, argv.data(), environ) == 0)
        Children().push_back(pid);
    posix_spawn_file_actions_destroy(&actions);
}

void ReapNotifications() {
    auto& c = Children();
    for (auto it = c.begin(); it != c.end();) {
        int status = 0;
        if (waitpid(*it, &status, WNOHANG) != 0)
            it = c.erase(it);
        else
            ++it;
    }
}

}  // namespace kyvo::cli
