// Scratch folders and file helpers for the container tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/afxstr.h"

typedef std::vector<uint8_t> Bytes;

// A fresh empty folder per test, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Full path of a name inside the scratch folder, in the system's form.
    CString PathOf(const std::string& strName) const;
    // Names of the entries in the scratch folder, sorted.
    std::vector<std::string> Listing() const;

    std::filesystem::path m_dir;
};

void WriteFileBytes(const CString& strPath, const Bytes& data);
Bytes ReadFileBytes(const CString& strPath);
bool FileExists(const CString& strPath);

// Deterministic test contents.
Bytes TextBytes(size_t n);    // compressible words and lines
Bytes RandomBytes(size_t n, uint32_t nSeed = 1);  // incompressible
Bytes MixedBytes(size_t n);   // text, binary runs and noise in turns
