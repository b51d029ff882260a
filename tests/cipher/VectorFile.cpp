#include "VectorFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/common/WinePath.h"

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string DataPath(const char* pszName)
{
    return WinePath(std::string(KESTRIN_TEST_DATA) + "/" + pszName);
}

bool ReadFile(const std::string& path, std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
        text.append(buf, n);
    const bool bOk = !std::ferror(f);
    std::fclose(f);
    return bOk;
}

// Splits one line into fields; false on a malformed token.
bool ParseLine(const std::string& line, CVectorRecord& rec)
{
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        if (line[i] == '#')
            break;
        const size_t eq = line.find('=', i);
        if (eq == std::string::npos || eq == i)
            return false;
        const std::string name = line.substr(i, eq - i);
        if (name.find_first_of(" \t\"") != std::string::npos)
            return false;
        size_t j = eq + 1;
        std::string value;
        bool bQuoted = false;
        if (j < line.size() && line[j] == '"') {
            const size_t close = line.find('"', j + 1);
            if (close == std::string::npos)
                return false;
            value = line.substr(j + 1, close - j - 1);
            bQuoted = true;
            j = close + 1;
        } else {
            const size_t end = line.find_first_of(" \t\r", j);
            value = line.substr(j, end == std::string::npos ? std::string::npos : end - j);
            j = end == std::string::npos ? line.size() : end;
        }
        rec.fields[name] = value;
        rec.quoted[name] = bQuoted;
        i = j;
    }
    return true;
}

}  // namespace

std::string CVectorRecord::Text(const std::string& name) const
{
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

std::vector<uint8_t> CVectorRecord::Bytes(const std::string& name) const
{
    std::vector<uint8_t> out;
    auto it = fields.find(name);
    if (it == fields.end()) {
        ADD_FAILURE() << Where() << ": no field " << name;
        return out;
    }
    const std::string& v = it->second;
    if (quoted.at(name))
        return std::vector<uint8_t>(v.begin(), v.end());
    if (v.size() % 2 != 0) {
        ADD_FAILURE() << Where() << ": odd hex length in " << name;
        return out;
    }
    for (size_t i = 0; i < v.size(); i += 2) {
        const int hi = HexDigit(v[i]), lo = HexDigit(v[i + 1]);
        if (hi < 0 || lo < 0) {
            ADD_FAILURE() << Where() << ": bad hex in " << name;
            return std::vector<uint8_t>();
        }
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return out;
}

long CVectorRecord::Number(const std::string& name, long nDefault) const
{
    auto it = fields.find(name);
    return it == fields.end() ? nDefault : std::strtol(it->second.c_str(), nullptr, 10);
}

std::string CVectorRecord::Where() const
{
    std::string s = strFile + ":" + std::to_string(nLine);
    if (Has("tag"))
        s += " [" + Text("tag") + "]";
    return s;
}

std::vector<CVectorRecord> LoadVectors(const char* pszName)
{
    std::vector<CVectorRecord> records;
    std::string text;
    const std::string path = DataPath(pszName);
    if (!ReadFile(path, text)) {
        ADD_FAILURE() << "cannot read " << path;
        return records;
    }
    size_t pos = 0;
    int nLine = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        CVectorRecord rec;
        rec.strFile = pszName;
        rec.nLine = ++nLine;
        if (!ParseLine(text.substr(pos, end - pos), rec))
            ADD_FAILURE() << pszName << ":" << nLine << ": malformed line";
        else if (!rec.fields.empty())
            records.push_back(rec);
        pos = end + 1;
    }
    if (records.empty())
        ADD_FAILURE() << path << " holds no records";
    return records;
}

std::vector<CVectorRecord> LoadVectors(const char* pszName, const char* pszKind)
{
    std::vector<CVectorRecord> all = LoadVectors(pszName), some;
    for (const CVectorRecord& r : all) {
        if (r.Text("kind") == pszKind)
            some.push_back(r);
    }
    if (some.empty())
        ADD_FAILURE() << pszName << " holds no records of kind " << pszKind;
    return some;
}

std::string ToHex(const uint8_t* p, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}
