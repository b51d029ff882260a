// Reader for the cipher vector files in tests/data: one record per line as
// name=value fields; values are hex bytes or "quoted ASCII"; # starts a comment.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CVectorRecord {
    std::string strFile;
    int nLine = 0;
    std::map<std::string, std::string> fields;  // raw values, quotes removed
    std::map<std::string, bool> quoted;

    bool Has(const std::string& name) const { return fields.count(name) != 0; }
    std::string Text(const std::string& name) const;
    // Hex or quoted ASCII; a missing field or bad hex fails the current test.
    std::vector<uint8_t> Bytes(const std::string& name) const;
    long Number(const std::string& name, long nDefault) const;
    std::string Where() const;  // "file:line tag" for failure messages
};

// Every record of tests/data/<name>; fails the current test if the file is
// missing, malformed or empty.
std::vector<CVectorRecord> LoadVectors(const char* pszName);

// The records whose kind= field equals pszKind.
std::vector<CVectorRecord> LoadVectors(const char* pszName, const char* pszKind);

std::string ToHex(const uint8_t* p, size_t n);
inline std::string ToHex(const std::vector<uint8_t>& v) { return ToHex(v.data(), v.size()); }
