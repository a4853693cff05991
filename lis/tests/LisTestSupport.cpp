#include "LisTestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>

namespace kyvo::lis::test {

namespace {

std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (const char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

TPythonRun RunPython(const std::string& script, const std::vector<std::string>& args) {
    TPythonRun run;
    const std::string python = KYVO_PYTHON3;
    if (python.empty() || python.find("NOTFOUND") != std::string::npos ||
        access(python.c_str(), X_OK) != 0) {
        run.Status = 77;
        run.Output = "python3 not found";
        return run;
    }
    std::string cmd = shellQuoted(python) + " " +
                      shellQuoted(std::string(KYVO_LIS_SOURCE_DIR) + "/tests/" + script);
    for (const auto& a : args) cmd += " " + shellQuoted(a);
    cmd += " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return run;
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) run.Output.append(buf.data(), n);
    const int status = pclose(p);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/kyvo-lis-" + std::to_string(getpid()) + "-" +
           name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace kyvo::lis::test
