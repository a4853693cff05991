// kyvo-cli's command line: the input's zero bytes separate the arguments.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"kyvo-cli"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty()) args.push_back(current);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The usage texts would drown the fuzzer's own output.
    std::ostringstream sink;
    auto* const err = std::cerr.rdbuf(sink.rdbuf());
    auto* const out = std::cout.rdbuf(sink.rdbuf());
    kyvo::cli::Options o;
    const auto code = kyvo::cli::ParseOptions(static_cast<int>(args.size()), argv.data(), o);
    std::cerr.rdbuf(err);
    std::cout.rdbuf(out);
    if (code && *code != kyvo::cli::kUsage && *code != kyvo::cli::kOk) __builtin_trap();
    kyvo::fuzz::keep(o.command);
    return 0;
}
