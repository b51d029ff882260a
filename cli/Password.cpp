#include "cli/Password.h"

#include <cstdio>
#include <cstring>

#include "container/SecureBuffer.h"
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

const int kMinLength = 4;  // as the settings dialog asks
const char kTooShort[] = "You must choose a password that is at least 4 characters long.";
const char kMismatch[] = "Confirmation password does not match. Please re-enter both passwords";
const char kHasNul[] = "the password contains a NUL byte, which would cut the key short; choose another";

// The password passes through the stream's buffer: ours, wiped after reading.
char g_achStdinBuffer[4096];

unsigned InputCodePage(FILE* pFile)
{
#ifdef _WIN32
    // What a console types comes in the console's code page.
    DWORD dwMode = 0;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pFile)));
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &dwMode))
        return GetConsoleCP();
#else
    (void)pFile;
#endif
    return GetLegacyCodePage();
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
    // Passwords travel as UTF-8 like every text here; a line that is not
    // UTF-8 was typed in the legacy code page.
    CString strBytes(ach, int(n));
    SecureZero(ach, sizeof ach);
    strLine = LegacyOrUtf8ToUtf8(strBytes, InputCodePage(pFile));
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

}  // namespace

namespace {

bool ReadPasswordFrom(const Options& options, bool bEncrypting, CString& strPassword, std::string& strError)
{
    char achBuffer[4096];
    FILE* pFile = options.bPasswordStdin ? stdin : AfxOpenFile(options.strPasswordFile.c_str(), "rb");
    if (!pFile) {
        strError = "cannot open the password file " + options.strPasswordFile;
        return false;
    }
    if (pFile != stdin)
        std::setvbuf(pFile, achBuffer, _IOFBF, sizeof achBuffer);
    bool bRead = ReadFirstLine(pFile, strPassword);
    if (pFile != stdin)
        std::fclose(pFile);  // read only: nothing to lose
    SecureZero(achBuffer, sizeof achBuffer);
    if (!bRead) {
        strError = "cannot read the password";
        return false;
    }
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
    bool bOk;
    if (!options.strPasswordFile.empty() || options.bPasswordStdin) {
        bOk = ReadPasswordFrom(options, bEncrypting, strPassword, strError);
    } else if (!StdinIsTerminal()) {
        strError = "no password: use --password-file or --password-stdin, or run on a terminal";
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
