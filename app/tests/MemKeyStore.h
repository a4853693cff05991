// Settings kept in memory, for rigs that drive the controller without files.
#pragma once

#include <map>
#include <string>

#include "app/AppServices.h"
#include "protocol/ByteBuffer.h"

namespace kyvo::testing {

class MemKeyStore final : public IKeyStore {
  public:
    std::map<std::string, std::string> Values;  // "Head/Item" -> value
    static std::string Key(const std::string& h, const std::string& i) { return h + "/" + i; }
    std::string GetText(const std::string& h, const std::string& i,
                        const std::string& def) override {
        auto it = Values.find(Key(h, i));
        if (it == Values.end()) return Values[Key(h, i)] = def;
        return it->second;
    }
    std::string GetTextNoDefault(const std::string& h, const std::string& i) override {
        auto it = Values.find(Key(h, i));
        return it == Values.end() ? std::string() : it->second;
    }
    int GetInt(const std::string& h, const std::string& i, int def) override {
        const std::string t = GetText(h, i, std::to_string(def));
        try {
            return std::stoi(t);
        } catch (...) {
            return def;
        }
    }
    bool GetBool(const std::string& h, const std::string& i, bool def) override {
        const std::string t = upperCaseAscii(GetText(h, i, def ? "true" : "false"));
        return t == "TRUE" || t == "1";
    }
    void SetText(const std::string& h, const std::string& i, const std::string& v) override {
        Values[Key(h, i)] = v;
    }
    void SetInt(const std::string& h, const std::string& i, int v) override {
        Values[Key(h, i)] = std::to_string(v);
    }
    void SetBool(const std::string& h, const std::string& i, bool v) override {
        Values[Key(h, i)] = v ? "true" : "false";
    }
};

}  // namespace kyvo::testing
