// What the lab calls our tests and results: test name and result name to an
// observation code (code, text, coding system), a UCUM unit, and the
// abnormal flag a result class stands for.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kyvo::lis {

// One coded element: code^text^coding system (LN for LOINC, L for local).
struct TCodedElement {
    std::string Code;
    std::string Text;
    std::string System;
    bool operator==(const TCodedElement&) const = default;
};

struct TResultCode {
    std::string TestName;
    std::string ResultName;  // empty: every result of the test
    TCodedElement Code;
    std::string Unit;  // UCUM, empty when the device's unit text is to be sent
};

struct TTestCode {
    std::string TestName;
    TCodedElement Code;
    TCodedElement Specimen;  // SPM-4; empty Code: not named
};

struct TClassFlag {
    std::string ClassName;
    std::string Flag;  // an HL7 abnormal flag (table 0078): L, H, LL, HH, N, A, ...
};

struct TCodeMapping {
    std::vector<TTestCode> Tests;
    std::vector<TResultCode> Results;
    std::vector<TClassFlag> Flags;

    // Names compare without regard to ASCII case and surrounding blanks.
    // A result line naming the result wins over one for the whole test.
    const TResultCode* FindResult(std::string_view testName, std::string_view resultName) const;
    const TTestCode* FindTest(std::string_view testName) const;
    const TClassFlag* FindFlag(std::string_view className) const;
};

// One complaint about a mapping file; Line counts from 1.
struct TMappingError {
    int Line = 0;
    std::string Message;
};

struct TMappingParse {
    TCodeMapping Mapping;
    std::vector<TMappingError> Errors;  // empty when every line was understood
};

// Reads the mapping file format (see lis/mapping.example): UTF-8 (a leading
// byte-order mark is skipped), one record per line, fields separated by "|",
// blanks around fields ignored, "#" starts a comment line, blank lines
// ignored. Records:
//   test   | <test name> | <code> | <text> | <coding system> [| <specimen code^text^system>]
//   result | <test name> | <result name or empty> | <code> | <text> | <coding system> [| <UCUM
//   unit>] flag   | <class name> | <HL7 abnormal flag>
// A line that is not understood is reported with its number and left out;
// the other lines still count, so the caller decides whether to go on.
TMappingParse ParseCodeMapping(std::string_view text);

// The same from a file; a file that cannot be read is one error at line 0.
TMappingParse LoadCodeMapping(const std::string& path);

// One-line text of an error, "mapping line 7: ...".
std::string MappingErrorText(const TMappingError& error);

}  // namespace kyvo::lis
