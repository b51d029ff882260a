// The command line of the kestrin tool: one table of options, each with the
// commands that take it and its line of help, from which the parser and
// `kestrin help COMMAND` both work.
#pragma once

#include <string>
#include <vector>

enum class Command { kNone, kEncrypt, kDecrypt, kVerify, kInfo, kHelp, kVersion };

const int kMethodAuto = -1;

struct Options {
    Command command = Command::kNone;
    // encrypt defaults to aes; the reading commands find the method.
    int nEncType = kMethodAuto;
    bool bMethodGiven = false;
    std::string strOutput;     // -o: the one input's output; "-": standard output
    std::string strOutputDir;  // -O: the folder the outputs go to, made when missing
    std::string strName;       // the stored name for a standard-input source
    bool bRecursive = false;
    bool bForce = false;       // encrypt containers too; replace an existing -o FILE
    std::string strPasswordFile;
    bool bPasswordStdin = false;
    std::string strPasswordEnv;
    int nPasswordFd = -1;
    bool bQuiet = false;       // nothing but errors
    bool bVerbose = false;     // method, sizes and time on each file's line
    unsigned nCodePage = 0;  // of legacy names and passwords; 0: the system's (1252 off Windows)
    bool bHelp = false;             // COMMAND --help (or -?, and /? on Windows)
    bool bVersion = false;          // COMMAND --version
    Command helpTopic = Command::kNone;  // help COMMAND
    int nThreads = 0;  // threads that compress; 0: every hardware thread
    std::vector<std::string> files;

    bool ToStdout() const { return strOutput == "-"; }
    bool PasswordGiven() const
    {
        return !strPasswordFile.empty() || bPasswordStdin || !strPasswordEnv.empty() || nPasswordFd >= 0;
    }
};

// False with a message for the user when the arguments make no sense.
bool ParseOptions(int argc, char** argv, Options& options, std::string& strError);

const char* CommandName(Command command);

// The overview (no command) or one command's options, examples and exit statuses.
std::string HelpText(Command command);
extern const char kSynopsis[];

// One option as help shows it: "-o, --output FILE" and its text (lines
// after the first begin with a newline each).
struct OptionHelp {
    std::string strForms;
    std::string strText;
};
std::vector<OptionHelp> OptionsOf(Command command);
