// Writes the read-only program settings file with every item at its
// default, as the installation puts it beside the programs.
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "files/ConfigFile.h"
#include "files/Settings.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kyvo-default-settings OUTPUT.ini\n";
        return 2;
    }
    const std::string out = argv[1];
    std::error_code ec;
    std::filesystem::remove(out, ec);
    {
        // Reading every item of an empty file writes each default into it.
        kyvo::TConfigFile file(out, false, false);
        file.Lines.clear();
        kyvo::ReadProgramSettings(file);
        kyvo::ReadCustomerSettings(file);
        if (!file.save()) {
            std::cerr << "kyvo-default-settings: cannot write " << out << "\n";
            return 1;
        }
    }
    return 0;
}
