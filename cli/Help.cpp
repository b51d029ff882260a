// What `kestrin help [COMMAND]` and `kestrin COMMAND --help` print.
#include "cli/Options.h"

const char kSynopsis[] =
    "usage: kestrin encrypt [-m METHOD] [-o DIR] [-r] [--name NAME] [PASSWORD] [-q] FILE...\n"
    "       kestrin decrypt [-m METHOD|auto] [-o DIR] [-r] [PASSWORD] [-q] FILE...\n"
    "       kestrin verify  [-m METHOD|auto] [-r] [PASSWORD] [-q] FILE...\n"
    "       kestrin info    [-m METHOD|auto] [PASSWORD] FILE...\n"
    "       kestrin help [COMMAND] | --version\n"
    "PASSWORD: --password-file FILE | --password-stdin | --password-env VAR | --password-fd N\n";

namespace {

const char kPasswordOptions[] =
    "  --password-file FILE  the password is the first line of FILE\n"
    "  --password-stdin      ... of standard input\n"
    "  --password-env VAR    ... the value of the environment variable VAR\n"
    "  --password-fd N       ... the first line read from file descriptor N\n"
    "                        without any of these it is asked on the terminal\n"
    "  --codepage N          the Windows code page of stored names and passwords\n"
    "                        that are not UTF-8 (default 1252; on Windows the\n"
    "                        system's ANSI code page); aes uses UTF-8 only\n"
    "  --threads N           threads a file is processed with (1..64; default\n"
    "                        one per hardware thread); same output\n";

const char kExitStatus[] =
    "Exit status:\n"
    "  0    every file succeeded\n"
    "  1..8 the first failed file's result: 1 read, 2 write, 3 out of memory,\n"
    "       4 not a container, 5 wrong password, method or damage, 6 inflate,\n"
    "       7 deflate, 8 encrypt; an aes container: 5 wrong password, 6 damage\n"
    "  64   usage error (bad option, missing password, missing output folder)\n"
    "  128+N  stopped by signal N (130 for Ctrl-C); the file in work is removed\n";

const char kOverview[] =
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
    "Nothing is ever overwritten: a taken name gets the next free number.\n"
    "FILE may be - for standard input; -o - writes the output to standard output.\n"
    "\n";

struct CommandHelp {
    Command command;
    const char* pszUsage;
    const char* pszOptions;
    const char* pszExample;
};

const CommandHelp kHelp[] = {
    {Command::kEncrypt,
     "usage: kestrin encrypt [OPTIONS] FILE...\n"
     "Makes a container of each FILE, beside it or in DIR: report.txt gives report._xt.\n",
     "  -m, --method METHOD   aes (default), sapphire, des, des-cbc or blowfish\n"
     "  -o, --output-dir DIR  write the containers into DIR; - for standard output\n"
     "  -r, --recursive       every regular file below the named folders\n"
     "                        (symbolic links to folders are not followed)\n"
     "      --name NAME       the name stored for standard input (FILE -)\n"
     "  -q, --quiet           no progress line\n",
     "  kestrin encrypt --password-file ~/.pw -o /backup report.txt\n"
     "  tar c photos | kestrin encrypt --password-env PW --name photos.tar -o - - > photos._ar\n"},
    {Command::kDecrypt,
     "usage: kestrin decrypt [OPTIONS] FILE...\n"
     "Restores each container's file under its stored name, beside it or in DIR.\n",
     "  -m, --method METHOD   auto (default), aes, sapphire, des, des-cbc or blowfish\n"
     "  -o, --output-dir DIR  write the restored files into DIR; - for standard output\n"
     "  -r, --recursive       every container below the named folders, found by\n"
     "                        its content whatever its name\n"
     "  -q, --quiet           no progress line\n",
     "  kestrin decrypt report._xt\n"
     "  kestrin decrypt --password-env PW -o - - < photos._ar | tar x\n"},
    {Command::kVerify,
     "usage: kestrin verify [OPTIONS] FILE...\n"
     "Checks every block of each container with the password; writes nothing.\n",
     "  -m, --method METHOD   auto (default), aes, sapphire, des, des-cbc or blowfish\n"
     "  -r, --recursive       every container below the named folders\n"
     "  -q, --quiet           no progress line\n",
     "  kestrin verify -r --password-file ~/.pw /backup\n"},
    {Command::kInfo,
     "usage: kestrin info [OPTIONS] FILE...\n"
     "Shows the stored name, the method, the number of blocks, the plain size and\n"
     "the compression ratio of each container; writes nothing.\n",
     "  -m, --method METHOD   auto (default), aes, sapphire, des, des-cbc or blowfish\n",
     "  kestrin info report._xt\n"},
};

}  // namespace

std::string HelpText(Command command)
{
    for (const auto& h : kHelp) {
        if (h.command != command)
            continue;
        return std::string(h.pszUsage) + "\nOptions:\n" + h.pszOptions + kPasswordOptions +
               "  -h, --help            this text\n"
               "Options with a value also take the form --option=value.\n\nExample:\n" +
               h.pszExample + "\n" + kExitStatus;
    }
    return std::string(kSynopsis) + kOverview + kExitStatus;
}
