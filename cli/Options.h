// The command line of the kestrin tool.
#pragma once

#include <string>
#include <vector>

enum class Command { kNone, kEncrypt, kDecrypt, kVerify, kHelp, kVersion };

struct Options {
    Command command = Command::kNone;
    int nEncType = -1;  // -1: not given (encrypt: the authenticated method; decrypt: "Sapphire II")
    std::string strPasswordFile;
    bool bPasswordStdin = false;
    bool bQuiet = false;
    int nThreads = 0;  // threads that compress; 0: every hardware thread
    unsigned nCodePage = 0;  // of legacy names and passwords; 0: the system's (1252 off Windows)
    std::vector<std::string> files;
};

// False with a message for the user when the arguments make no sense.
bool ParseOptions(int argc, char** argv, Options& options, std::string& strError);

extern const char kSynopsis[];
extern const char kDetails[];  // what --help adds to the synopsis
