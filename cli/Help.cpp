// What `kestrin help [COMMAND]` and `kestrin COMMAND --help` print. Each
// command's options come from the option table itself; the exit statuses
// are the table that the manual page and cli/README.md repeat word for word
// (tests/cli checks that they do).
#include <algorithm>

#include "cli/Options.h"

const char kSynopsis[] =
    "usage: kestrin encrypt [-m METHOD] [-o FILE | -O DIR] [-r] [-f] [--name NAME] [-q | -v] [PASSWORD] FILE...\n"
    "       kestrin decrypt [-m METHOD] [-o FILE | -O DIR] [-r] [-f] [-q | -v] [PASSWORD] FILE...\n"
    "       kestrin verify  [-m METHOD] [-r] [-q | -v] [PASSWORD] FILE...\n"
    "       kestrin info    [-m METHOD] [-r] [-q] [PASSWORD] FILE...\n"
    "       kestrin help [COMMAND] | --version\n"
    "PASSWORD: --password-file FILE | --password-stdin | --password-env VAR | --password-fd N\n";

namespace {

const char kExitStatus[] =
    "Exit status:\n"
    "  0      every file succeeded (a file encrypt skips counts as one)\n"
    "  1      a file could not be read or used: it is missing, not a regular\n"
    "         file, an -o FILE that exists, a folder -r finds nothing in or\n"
    "         cannot read, or a legacy container with bytes after its last\n"
    "         block\n"
    "  2      a file could not be written\n"
    "  3      out of memory\n"
    "  4      not a Kestrin container\n"
    "  5      wrong password or method, or a legacy block that does not\n"
    "         decrypt; for an aes container a wrong password (or a damaged\n"
    "         header), or one that is not UTF-8\n"
    "  6      a legacy block that does not decompress; any damage to an aes\n"
    "         container\n"
    "  7      compression failed\n"
    "  8      encryption failed\n"
    "  64     usage error: an unknown command or option, a bad value, no\n"
    "         password\n"
    "  128+N  stopped by signal N (130 for Ctrl-C); the file in work is removed\n"
    "With several failed files the status is the first one's, and a last line\n"
    "says how many failed.\n";

const char kOverview[] =
    "Every command also takes --codepage N, --threads N, --help (-?) and --version.\n"
    "\n"
    "Commands:\n"
    "  encrypt   make a container of each FILE (report.txt gives report._xt)\n"
    "  decrypt   restore the file stored in each container under its stored name\n"
    "  verify    check containers completely, writing nothing\n"
    "  info      show a container's stored name, method, blocks and sizes\n"
    "  help      this text, or `kestrin help COMMAND` for one command\n"
    "\n"
    "METHOD: aes (encrypt's default: AES-256-GCM, salted and authenticated; choose\n"
    "it for anything new), sapphire, des, des-cbc, blowfish (the older methods,\n"
    "for existing containers), or auto (the default for decrypt, verify and info:\n"
    "an aes container names itself, the others are found by trying each).\n"
    "Nothing is ever overwritten: beside the source or in -O DIR a taken name gets\n"
    "the next free number; an -o FILE that exists is refused unless -f.\n"
    "FILE may be - for standard input; -o - writes the output to standard output.\n"
    "\n";

struct CommandHelp {
    Command command;
    const char* pszUsage;
    const char* pszExamples;
};

const CommandHelp kHelp[] = {
    {Command::kEncrypt,
     "Makes a container of each FILE, beside it, in DIR or named FILE: report.txt\n"
     "gives report._xt.\n"
     "A file that is a container already, or whose container is there, is skipped.\n",
     "  kestrin encrypt --password-file ~/.pw -O /backup report.txt\n"
     "  kestrin encrypt -o report.enc report.txt\n"
     "  tar c photos | kestrin encrypt --password-env PW --name photos.tar -o - - > photos._ar\n"},
    {Command::kDecrypt,
     "Restores each container's file under its stored name, beside it or in DIR,\n"
     "or under the name -o gives.\n",
     "  kestrin decrypt report._xt\n"
     "  kestrin decrypt -r --password-file ~/.pw -O restored /backup\n"
     "  kestrin decrypt --password-env PW -o - - < photos._ar | tar x\n"},
    {Command::kVerify, "Checks every block of each container with the password; writes nothing.\n",
     "  kestrin verify -r --password-file ~/.pw /backup\n"},
    {Command::kInfo,
     "Shows the stored name, the method, the number of blocks, the plain size and\n"
     "the compression ratio of each container; writes nothing.\n",
     "  kestrin info report._xt\n"},
};

std::string OptionLines(Command command)
{
    const std::vector<OptionHelp> options = OptionsOf(command);
    size_t nWidth = 0;
    for (const OptionHelp& o : options)
        nWidth = std::max(nWidth, o.strForms.size());
    const std::string strIndent(2 + nWidth + 2, ' ');
    std::string strLines;
    for (const OptionHelp& o : options) {
        strLines += "  " + o.strForms + std::string(nWidth - o.strForms.size() + 2, ' ');
        for (char c : o.strText)
            strLines += c == '\n' ? "\n" + strIndent : std::string(1, c);
        strLines += "\n";
    }
    return strLines;
}

}  // namespace

std::string HelpText(Command command)
{
    for (const auto& h : kHelp) {
        if (h.command != command)
            continue;
        return std::string("usage: kestrin ") + CommandName(command) + " [OPTIONS] FILE...\n" + h.pszUsage +
               "\nOptions:\n" + OptionLines(command) +
               "Options with a value also take the form --option=value.\n\nExamples:\n" + h.pszExamples + "\n" +
               kExitStatus;
    }
    return std::string(kSynopsis) + kOverview + kExitStatus;
}
