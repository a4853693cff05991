#pragma once

// Head/item key files ("[Head]" lines and "Item = value" lines), kept as the
// list of raw lines they are on disk. Every lookup scans the lines; a set
// rewrites or inserts exactly one line, so comments, blank lines, unknown
// heads and the order of everything survive a save.

#include <string>
#include <string_view>
#include <vector>

#include "files/FileErrorReporter.h"

namespace kyvo {

class TGenFile {
  public:
    // Opens FileName (see OpenFile). The reporter, when given, must outlive
    // the object: the destructor saves and may report a failed save.
    explicit TGenFile(const std::string& FileName, bool SaveImmediate = false, bool ROnly = false,
                      IFileErrorReporter* reporter = nullptr);
    // Saves (see save).
    virtual ~TGenFile();
    TGenFile(const TGenFile&) = delete;
    TGenFile& operator=(const TGenFile&) = delete;

    // Opens again from Filename with the present flags; changes held in
    // memory are lost.
    void reload();
    // Writes Lines to Filename as UTF-16 LE with BOM and CR LF, through a
    // temporary file, unless the file is read-only, invalid or SaveImmediate
    // is set. Returns false only when a write was due and failed; the failure
    // is also reported, and the file on disk stays as it was.
    bool save();

    // Text <-> quoted-value escapes. Line feed is written \r and carriage
    // return \n (the Windows program's convention, reversed again on decode).
    static std::string MakeSaveString(std::string_view Str);
    static std::string DecodeSaveString(std::string_view SaveStr);
    static bool DecodeHexNibble(char32_t C, unsigned& Nibble);

    // Line level, exposed for the typed descendants and for tests.
    static std::string CleanLine(std::string_view line);
    static std::string GetLineHead(std::string_view line);
    static std::string GetLineItem(std::string_view line);
    static std::string GetLineValue(std::string_view line);
    int FindNextHead(int index) const;
    // The index of the line "[Head]" (Head cleaned, case ignored), or -1.
    int FindHead(std::string_view Head) const;
    int FindItem(int first, int last, std::string_view Item) const;
    // First and last line index to search for the items of the head at h.
    void SectionRange(int h, int& first, int& last) const;
    // The decoded value of Item under Head; false when either is missing.
    bool FindValue(std::string_view Head, std::string_view Item, std::string& value) const;

    bool FileValid = false;
    bool SaveImmediate = false;
    bool ReadOnly = false;
    std::string Filename;
    std::vector<std::string> Lines;

  protected:
    void OpenFile(const std::string& FileName, bool saveImmediate, bool readOnly);
    // Writes the line "Item = value" (value already in file form) under Head.
    void PutItem(std::string_view Head, std::string_view Item, const std::string& value);
    static std::string QuotedValue(std::string_view Val);

    IFileErrorReporter& reporter_;
};

}  // namespace kyvo
