// The command line of the kestrin tool.
#pragma once

#include <string>
#include <vector>

enum class Command { kNone, kEncrypt, kDecrypt, kVerify, kInfo, kHelp, kVersion };

const int kMethodAuto = -1;

struct Options {
    Command command = Command::kNone;
    // encrypt defaults to "Sapphire II"; the reading commands find the method.
    int nEncType = kMethodAuto;
    bool bMethodGiven = false;
    std::string strOutputDir;  // "-": standard output
    std::string strName;       // the stored name for a standard-input source
    bool bRecursive = false;
    std::string strPasswordFile;
    bool bPasswordStdin = false;
    std::string strPasswordEnv;
    int nPasswordFd = -1;
    bool bQuiet = false;
    unsigned nCodePage = 0;  // of legacy names and passwords; 0: the system's (1252 off Windows)
    bool bHelp = false;             // COMMAND --help
    Command helpTopic = Command::kNone;  // help COMMAND
    int nThreads = 0;  // threads that compress; 0: every hardware thread
    std::vector<std::string> files;
};

// False with a message for the user when the arguments make no sense.
bool ParseOptions(int argc, char** argv, Options& options, std::string& strError);

const char* CommandName(Command command);

// The overview (no command) or one command's options, examples and exit statuses.
std::string HelpText(Command command);
extern const char kSynopsis[];
