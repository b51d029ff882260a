#include "cli/Password.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/SecureBuffer.h"
#include "framework/afxconv.h"
#include "framework/afxfile.h"

#ifdef _WIN32
#include <io.h>
#include "framework/afxdefs.h"
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
int DupFd(int fd) { return _dup(fd); }
FILE* OpenFd(int fd) { return _fdopen(fd, "rb"); }
void CloseFd(int fd) { _close(fd); }
#else
int DupFd(int fd) { return dup(fd); }
FILE* OpenFd(int fd) { return fdopen(fd, "rb"); }
void CloseFd(int fd) { close(fd); }
#endif

const int kMinLength = 4;  // as the settings dialog asks
const char kTooShort[] = "You must choose a password that is at least 4 characters long.";
const char kMismatch[] = "Confirmation password does not match. Please re-enter both passwords";
const char kHasNul[] = "the password contains a NUL byte, which would cut the key short; choose another";

// The password passes through the stream's buffer: ours, wiped after reading.
char g_achStdinBuffer[4096];

// Typed text arrives from a Windows console in the console's code page; a
// file, pipe or descriptor gives bytes of no declared encoding.
bool ConsoleCodePage(FILE* pFile, unsigned& nCodePage)
{
#ifdef _WIN32
    DWORD dwMode = 0;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pFile)));
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &dwMode)) {
        nCodePage = GetConsoleCP();
        return true;
    }
#else
    (void)pFile;
    (void)nCodePage;
#endif
    return false;
}

// The first line without its line end. A fixed buffer, wiped after, so no
// copy of the password is left behind by a growing string.
bool ReadFirstLine(FILE* pFile, CString& strLine)
{
    char ach[4096];
    size_t n = 0;
    int c;
    bool bAny = false;
    while ((c = std::fgetc(pFile)) != EOF && c != '\n') {
        bAny = true;
        if (n + 1 >= sizeof ach) {
            SecureZero(ach, sizeof ach);
            return false;
        }
        ach[n++] = char(c);
    }
    // A failed read (a signal at the prompt, too) must not pass a cut-off line as the password.
    if (c == EOF && std::ferror(pFile)) {
        SecureZero(ach, sizeof ach);
        return false;
    }
    if (n > 0 && ach[n - 1] == '\r')
        --n;
    // Text typed on a Windows console becomes UTF-8, as the settings dialog
    // makes it. Other bytes stay as they came: whether a method can key from
    // them is decided for each file (the legacy methods read bytes that are
    // not UTF-8 in the legacy code page; the authenticated one refuses them).
    CString strBytes(ach, int(n));
    SecureZero(ach, sizeof ach);
    unsigned nCodePage = 0;
    strLine = ConsoleCodePage(pFile, nCodePage) ? LegacyOrUtf8ToUtf8(strBytes, nCodePage) : strBytes;
    strBytes.SecureEmpty();
    return bAny || c == '\n';
}

bool StdinIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

// Reads one line from the terminal with echo off.
bool AskHidden(const char* pszPrompt, CString& strLine)
{
    std::fputs(pszPrompt, stderr);
    std::fflush(stderr);
#ifdef _WIN32
    HANDLE hIn = GetStdHandle(STD_INPUT_HANDLE);
    DWORD dwMode = 0;
    bool bConsole = GetConsoleMode(hIn, &dwMode) != 0;
    if (bConsole)
        SetConsoleMode(hIn, dwMode & ~DWORD(ENABLE_ECHO_INPUT));
    bool bOk = ReadFirstLine(stdin, strLine);
    if (bConsole)
        SetConsoleMode(hIn, dwMode);
#else
    termios saved;
    bool bTerm = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (bTerm) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    bool bOk = ReadFirstLine(stdin, strLine);
    if (bTerm)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
#endif
    std::fputc('\n', stderr);
    return bOk;
}

bool AskOnTerminal(bool bEncrypting, CString& strPassword, std::string& strError)
{
    for (int nTry = 0; nTry < 3; ++nTry) {
        if (!AskHidden("Password: ", strPassword))
            break;
        if (!bEncrypting)
            return true;
        if (Utf8Length(strPassword) < kMinLength) {
            std::fprintf(stderr, "%s\n", kTooShort);
            continue;
        }
        CString strConfirm;
        bool bOk = AskHidden("Confirm Password : ", strConfirm) && strConfirm == strPassword;
        strConfirm.SecureEmpty();
        if (bOk)
            return true;
        std::fprintf(stderr, "%s\n", kMismatch);
    }
    strPassword.SecureEmpty();
    strError = "no password";
    return false;
}

// The first line of a password file, of standard input or of a file
// descriptor the caller opened (ours is a duplicate, so theirs stays open).
bool ReadPasswordSource(const Options& options, CString& strPassword, std::string& strError)
{
    FILE* pFile = stdin;
    if (!options.strPasswordFile.empty()) {
        pFile = AfxOpenFile(options.strPasswordFile.c_str(), "rb");
        if (!pFile) {
            strError = "cannot open the password file " + options.strPasswordFile + ": " + std::strerror(errno);
            return false;
        }
    } else if (options.nPasswordFd >= 0) {
        const int fd = DupFd(options.nPasswordFd);
        pFile = fd < 0 ? nullptr : OpenFd(fd);
        if (!pFile) {
            strError = "cannot read the password from file descriptor " + std::to_string(options.nPasswordFd) +
                       ": " + std::strerror(errno);
            if (fd >= 0)
                CloseFd(fd);
            return false;
        }
    }
    // The password passes through the stream's buffer: ours, wiped after reading.
    char achBuffer[4096];
    if (pFile != stdin)
        std::setvbuf(pFile, achBuffer, _IOFBF, sizeof achBuffer);
    const bool bRead = ReadFirstLine(pFile, strPassword);
    if (pFile != stdin)
        std::fclose(pFile);  // read only: nothing to lose
    SecureZero(achBuffer, sizeof achBuffer);
    if (!bRead)
        strError = "cannot read the password";
    return bRead;
}

bool ReadPasswordEnv(const std::string& strVariable, CString& strPassword, std::string& strError)
{
#ifdef _WIN32
    // Windows keeps the environment as UTF-16 text: taken whole, not through
    // the code page the narrow getenv would squeeze it into.
    const wchar_t* pwsz = _wgetenv(Utf8ToWide(strVariable.c_str()).c_str());
    const bool bSet = pwsz != nullptr;
    if (bSet && !WideToUtf8Exact(pwsz, -1, strPassword)) {
        strError = "the password in " + strVariable + " is not valid Unicode text (a lone surrogate)";
        return false;
    }
#else
    // Like a password file: the bytes as they are.
    const char* psz = std::getenv(strVariable.c_str());
    const bool bSet = psz != nullptr;
    if (bSet)
        strPassword = CString(psz);
#endif
    if (!bSet)
        strError = "the environment variable " + strVariable + " is not set";
    return bSet;
}

bool ReadPasswordFrom(const Options& options, bool bEncrypting, CString& strPassword, std::string& strError)
{
    const bool bRead = options.strPasswordEnv.empty() ? ReadPasswordSource(options, strPassword, strError)
                                                      : ReadPasswordEnv(options.strPasswordEnv, strPassword, strError);
    if (!bRead)
        return false;
    if (bEncrypting && Utf8Length(strPassword) < kMinLength) {
        strPassword.SecureEmpty();
        strError = kTooShort;
        return false;
    }
    return true;
}

}  // namespace

bool GetPassword(const Options& options, bool bEncrypting, CString& strPassword, std::string& strError)
{
    std::setvbuf(stdin, g_achStdinBuffer, _IOFBF, sizeof g_achStdinBuffer);
    const bool bGiven = !options.strPasswordFile.empty() || options.bPasswordStdin || options.nPasswordFd >= 0 ||
                        !options.strPasswordEnv.empty();
    bool bOk;
    if (bGiven) {
        bOk = ReadPasswordFrom(options, bEncrypting, strPassword, strError);
    } else if (!StdinIsTerminal()) {
        strError = "no password: use --password-file, --password-stdin, --password-env or --password-fd, "
                   "or run on a terminal";
        bOk = false;
    } else {
        bOk = AskOnTerminal(bEncrypting, strPassword, strError);
    }
    SecureZero(g_achStdinBuffer, sizeof g_achStdinBuffer);
    if (bOk && std::strlen(strPassword) != size_t(strPassword.GetLength())) {
        strPassword.SecureEmpty();
        strError = kHasNul;
        return false;
    }
    return bOk;
}
