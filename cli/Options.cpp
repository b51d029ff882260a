#include "cli/Options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cipher/Methods.h"
#include "framework/afxconv.h"

namespace {

struct CommandEntry {
    const char* pszName;
    Command command;
};

const CommandEntry kCommands[] = {
    {"encrypt", Command::kEncrypt}, {"decrypt", Command::kDecrypt}, {"verify", Command::kVerify},
    {"info", Command::kInfo},       {"help", Command::kHelp},       {"--help", Command::kHelp},
    {"-h", Command::kHelp},         {"--version", Command::kVersion}, {"-V", Command::kVersion},
};

bool ParseCommand(const char* psz, Command& command)
{
    for (const auto& c : kCommands) {
        if (std::strcmp(psz, c.pszName) == 0) {
            command = c.command;
            return true;
        }
    }
    return false;
}

bool ParseThreads(const char* psz, int& nThreads)
{
    char* pEnd = nullptr;
    const long n = std::strtol(psz, &pEnd, 10);
    if (!*psz || *pEnd || n < 1 || n > 64)
        return false;
    nThreads = int(n);
    return true;
}

bool Fail(std::string& strError, const std::string& strWhy)
{
    strError = strWhy;
    return false;
}

using Apply = bool (*)(Options&, const char* pszValue, std::string& strError);

struct OptionDef {
    char chShort;          // 0: long form only
    const char* pszLong;
    bool bTakesValue;
    Apply pfnApply;
};

bool SetMethod(Options& o, const char* psz, std::string& e)
{
    o.bMethodGiven = true;
    if (std::strcmp(psz, "auto") == 0) {
        o.nEncType = kMethodAuto;
        return true;
    }
    o.nEncType = ParseMethodName(psz);
    return o.nEncType >= 0 || Fail(e, std::string("unknown method: ") + psz +
                                          " (aes, sapphire, des, des-cbc, blowfish or auto)");
}

bool SetFd(Options& o, const char* psz, std::string& e)
{
    char* pEnd = nullptr;
    errno = 0;
    const long n = std::strtol(psz, &pEnd, 10);
    if (errno || !*psz || *pEnd || n < 0 || n > 1 << 20)
        return Fail(e, std::string("not a file descriptor: ") + psz);
    o.nPasswordFd = int(n);
    return true;
}

bool SetCodePage(Options& o, const char* psz, std::string& e)
{
    char* pEnd = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(psz, &pEnd, 10);
    if (errno || !*psz || *pEnd || n == 0 || n > 65535 || !IsKnownCodePage(unsigned(n)))
        return Fail(e, std::string("unknown code page: ") + psz);
    o.nCodePage = unsigned(n);
    return true;
}

bool SetThreads(Options& o, const char* psz, std::string& e)
{
    return ParseThreads(psz, o.nThreads) || Fail(e, std::string("--threads takes 1 to 64, not ") + psz);
}

const OptionDef kOptions[] = {
    {'m', "method", true, SetMethod},
    {'o', "output-dir", true, [](Options& o, const char* p, std::string&) { o.strOutputDir = p; return true; }},
    {0, "name", true, [](Options& o, const char* p, std::string&) { o.strName = p; return true; }},
    {'r', "recursive", false, [](Options& o, const char*, std::string&) { o.bRecursive = true; return true; }},
    {0, "password-file", true, [](Options& o, const char* p, std::string&) { o.strPasswordFile = p; return true; }},
    {0, "password-stdin", false, [](Options& o, const char*, std::string&) { o.bPasswordStdin = true; return true; }},
    {0, "password-env", true, [](Options& o, const char* p, std::string&) { o.strPasswordEnv = p; return true; }},
    {0, "password-fd", true, SetFd},
    {0, "codepage", true, SetCodePage},
    {0, "threads", true, SetThreads},
    {'q', "quiet", false, [](Options& o, const char*, std::string&) { o.bQuiet = true; return true; }},
    {'h', "help", false, [](Options& o, const char*, std::string&) { o.bHelp = true; return true; }},
};

const OptionDef* FindLong(const std::string& strName)
{
    for (const auto& option : kOptions)
        if (strName == option.pszLong)
            return &option;
    return nullptr;
}

const OptionDef* FindShort(char ch)
{
    for (const auto& option : kOptions)
        if (option.chShort && option.chShort == ch)
            return &option;
    return nullptr;
}

// "--name value" and "--name=value".
bool ParseLong(int argc, char** argv, int& i, Options& options, std::string& strError)
{
    const std::string strArg = argv[i] + 2;
    const size_t nEq = strArg.find('=');
    const std::string strName = strArg.substr(0, nEq);
    const OptionDef* pOption = FindLong(strName);
    if (!pOption)
        return Fail(strError, "unknown option: --" + strName);
    if (!pOption->bTakesValue) {
        if (nEq != std::string::npos)
            return Fail(strError, "--" + strName + " takes no value");
        return pOption->pfnApply(options, nullptr, strError);
    }
    if (nEq != std::string::npos)
        return pOption->pfnApply(options, argv[i] + 2 + nEq + 1, strError);
    if (i + 1 >= argc)
        return Fail(strError, "--" + strName + " needs a value");
    return pOption->pfnApply(options, argv[++i], strError);
}

// "-rq", "-m des", "-mdes".
bool ParseShort(int argc, char** argv, int& i, Options& options, std::string& strError)
{
    for (const char* p = argv[i] + 1; *p; ++p) {
        const OptionDef* pOption = FindShort(*p);
        if (!pOption)
            return Fail(strError, std::string("unknown option: -") + *p);
        if (!pOption->bTakesValue) {
            if (!pOption->pfnApply(options, nullptr, strError))
                return false;
            continue;
        }
        if (p[1])
            return pOption->pfnApply(options, p + 1, strError);
        if (i + 1 >= argc)
            return Fail(strError, std::string("-") + *p + " needs a value");
        return pOption->pfnApply(options, argv[++i], strError);
    }
    return true;
}

bool CheckPasswordSources(const Options& o, std::string& strError)
{
    const int nSources = !o.strPasswordFile.empty() + o.bPasswordStdin + !o.strPasswordEnv.empty() +
                         (o.nPasswordFd >= 0);
    if (nSources > 1)
        return Fail(strError, "give one password source: --password-file, --password-stdin, --password-env "
                              "or --password-fd");
    return true;
}

bool CheckStreams(const Options& o, std::string& strError)
{
    int nStdin = 0;
    for (const std::string& s : o.files)
        nStdin += s == "-";
    if (nStdin > 1)
        return Fail(strError, "standard input (-) can be read only once");
    if (nStdin && o.bPasswordStdin)
        return Fail(strError, "standard input cannot hold both the password and the data");
    if (nStdin && o.bRecursive)
        return Fail(strError, "-r needs folders, not standard input");
    if (nStdin && o.command == Command::kEncrypt && o.strName.empty())
        return Fail(strError, "encrypting standard input needs --name NAME, the name to store");
    if (!o.strName.empty() && !nStdin)
        return Fail(strError, "--name is for standard input (-) only");
    if (o.strOutputDir == "-") {
        if (o.files.size() != 1 || o.bRecursive)
            return Fail(strError, "-o - writes one output: give exactly one input");
        if (o.command != Command::kEncrypt && o.command != Command::kDecrypt)
            return Fail(strError, std::string(CommandName(o.command)) + " writes no output file");
    }
    return true;
}

}  // namespace

const char* CommandName(Command command)
{
    for (const auto& c : kCommands)
        if (c.command == command)
            return c.pszName;
    return "";
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& strError)
{
    if (argc < 2)
        return Fail(strError, "no command given");
    if (!ParseCommand(argv[1], options.command))
        return Fail(strError, std::string("unknown command: ") + argv[1]);
    if (options.command == Command::kVersion)
        return argc == 2 || Fail(strError, "nothing may follow " + std::string(argv[1]));
    if (options.command == Command::kHelp) {
        if (argc == 2)
            return true;
        Command topic = Command::kNone;
        if (argc > 3 || !ParseCommand(argv[2], topic) || topic == Command::kHelp || topic == Command::kVersion)
            return Fail(strError, "help takes one command: encrypt, decrypt, verify or info");
        options.helpTopic = topic;
        return true;
    }

    bool bOptionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string strArg = argv[i];
        bool bOk = true;
        if (bOptionsEnd || strArg.size() < 2 || strArg[0] != '-')
            options.files.push_back(strArg);
        else if (strArg == "--")
            bOptionsEnd = true;
        else if (strArg[1] == '-')
            bOk = ParseLong(argc, argv, i, options, strError);
        else
            bOk = ParseShort(argc, argv, i, options, strError);
        if (!bOk)
            return false;
    }
    if (options.bHelp)
        return true;
    if (options.command == Command::kEncrypt && options.nEncType == kMethodAuto) {
        if (options.bMethodGiven)
            return Fail(strError, "encrypt needs a method, not auto");
        options.nEncType = kEncTypeAuthenticated;
    }
    if (options.files.empty())
        return Fail(strError, "no files given");
    return CheckPasswordSources(options, strError) && CheckStreams(options, strError);
}
