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
#include <fcntl.h>
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
const size_t kMaxLine = 4095;
const char kTooShort[] = "the password must have at least 4 characters";
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

// The first line without its line end, or the reason there is none. A
// fixed buffer, wiped after, so no copy of the password is left behind by a
// growing string. Its bytes stay as they came: whether a method can key
// from them is decided for each file (the legacy methods read bytes that
// are not UTF-8 in the legacy code page; the authenticated one refuses them).
bool ReadFirstLine(FILE* pFile, CString& strLine, std::string& strWhy)
{
    char ach[kMaxLine + 1];
    size_t n = 0;
    int c;
    bool bAny = false;
    while ((c = std::fgetc(pFile)) != EOF && c != '\n') {
        bAny = true;
        if (n >= kMaxLine) {
            SecureZero(ach, sizeof ach);
            strWhy = "its first line is longer than 4095 bytes";
            return false;
        }
        ach[n++] = char(c);
    }
    // A failed read must not pass a cut-off line as the password.
    if (c == EOF && std::ferror(pFile)) {
        SecureZero(ach, sizeof ach);
        strWhy = errno ? std::strerror(errno) : "a read error";
        return false;
    }
    if (!bAny && c != '\n') {
        strWhy = "it is empty";
        return false;
    }
    if (n > 0 && ach[n - 1] == '\r')
        --n;
    CString strBytes(ach, int(n));
    SecureZero(ach, sizeof ach);
    // Text typed on a Windows console becomes UTF-8, as the settings dialog makes it.
    unsigned nCodePage = 0;
    strLine = ConsoleCodePage(pFile, nCodePage) ? LegacyOrUtf8ToUtf8(strBytes, nCodePage) : strBytes;
    strBytes.SecureEmpty();
    return true;
}

// The controlling terminal, whatever standard input and output are (a
// pipe, a file): the prompt is a conversation with the person at it.
// Echo goes off for a reading and comes back on every way out of it; a
// signal ends the reading (the handlers are installed without restart).
class CTerminal {
public:
    CTerminal(const CTerminal&) = delete;
    CTerminal& operator=(const CTerminal&) = delete;
#ifdef _WIN32
    CTerminal()
    {
        m_hIn = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        m_hOut = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        DWORD dwMode = 0;
        m_bOpen = m_hIn != INVALID_HANDLE_VALUE && m_hOut != INVALID_HANDLE_VALUE && GetConsoleMode(m_hIn, &dwMode);
    }
    ~CTerminal()
    {
        if (m_hIn != INVALID_HANDLE_VALUE)
            CloseHandle(m_hIn);
        if (m_hOut != INVALID_HANDLE_VALUE)
            CloseHandle(m_hOut);
    }
    void Say(const char* psz)
    {
        const std::wstring w = Utf8ToWide(psz);
        DWORD dwWritten = 0;
        WriteConsoleW(m_hOut, w.data(), DWORD(w.size()), &dwWritten, nullptr);
    }
    // The console gives UTF-16 whatever its code page: the password becomes
    // UTF-8, as the settings dialog makes it.
    bool ReadHidden(const char* pszPrompt, CString& strLine)
    {
        DWORD dwMode = 0;
        GetConsoleMode(m_hIn, &dwMode);
        SetConsoleMode(m_hIn, dwMode & ~DWORD(ENABLE_ECHO_INPUT));
        Say(pszPrompt);
        wchar_t awch[kMaxLine + 1];
        DWORD nLength = 0;
        bool bEnd = false;
        while (!bEnd && nLength < kMaxLine) {
            DWORD dwRead = 0;
            if (!ReadConsoleW(m_hIn, awch + nLength, 1, &dwRead, nullptr) || dwRead == 0)
                break;
            bEnd = awch[nLength] == L'\n';
            nLength += bEnd ? 0 : 1;
        }
        SetConsoleMode(m_hIn, dwMode);
        Say("\n");
        if (nLength > 0 && awch[nLength - 1] == L'\r')
            --nLength;
        const bool bOk = bEnd && WideToUtf8Exact(awch, int(nLength), strLine);
        SecureZero(awch, sizeof awch);
        return bOk;
    }
#else
    CTerminal() : m_fd(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) { m_bOpen = m_fd >= 0 && isatty(m_fd); }
    ~CTerminal()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    void Say(const char* psz)
    {
        for (size_t n = std::strlen(psz); n > 0;) {
            const ssize_t nWritten = write(m_fd, psz, n);
            if (nWritten <= 0)
                return;
            psz += nWritten;
            n -= size_t(nWritten);
        }
    }
    bool ReadHidden(const char* pszPrompt, CString& strLine)
    {
        termios saved;
        const bool bTerm = tcgetattr(m_fd, &saved) == 0;
        if (bTerm) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            // Flushed: what was typed before the prompt was echoed. The
            // prompt comes after, so that an answer to it never is.
            tcsetattr(m_fd, TCSAFLUSH, &quiet);
        }
        Say(pszPrompt);
        char ach[kMaxLine + 1];
        size_t n = 0;
        bool bEnd = false;
        while (!bEnd && n < kMaxLine) {
            // A signal ends the read (EINTR): the caller's flag says which.
            if (read(m_fd, ach + n, 1) != 1)
                break;
            bEnd = ach[n] == '\n';
            n += bEnd ? 0 : 1;
        }
        if (bTerm)
            tcsetattr(m_fd, TCSANOW, &saved);
        Say("\n");
        if (n > 0 && ach[n - 1] == '\r')
            --n;
        if (bEnd)
            strLine = CString(ach, int(n));
        SecureZero(ach, sizeof ach);
        return bEnd;
    }
#endif
    bool IsOpen() const { return m_bOpen; }

private:
#ifdef _WIN32
    HANDLE m_hIn = INVALID_HANDLE_VALUE;
    HANDLE m_hOut = INVALID_HANDLE_VALUE;
#else
    int m_fd = -1;
#endif
    bool m_bOpen = false;
};

bool AskOnTerminal(bool bEncrypting, CString& strPassword, std::string& strError)
{
    CTerminal terminal;
    if (!terminal.IsOpen()) {
        strError = "no password: give --password-file, --password-stdin, --password-env or --password-fd "
                   "(there is no terminal to ask on)";
        return false;
    }
    for (int nTry = 0; nTry < 3; ++nTry) {
        if (!terminal.ReadHidden("Password: ", strPassword))
            break;
        if (!bEncrypting)
            return true;
        if (Utf8Length(strPassword) < kMinLength) {
            terminal.Say((std::string("kestrin: ") + kTooShort + "\n").c_str());
            continue;
        }
        CString strConfirm;
        const bool bOk = terminal.ReadHidden("Password again: ", strConfirm) && strConfirm == strPassword;
        strConfirm.SecureEmpty();
        if (bOk)
            return true;
        terminal.Say("kestrin: the passwords do not match\n");
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
    std::string strSource = "the password from standard input";
    if (!options.strPasswordFile.empty()) {
        strSource = "the password file " + options.strPasswordFile;
        pFile = AfxOpenFile(options.strPasswordFile.c_str(), "rb");
    } else if (options.nPasswordFd >= 0) {
        strSource = "the password from file descriptor " + std::to_string(options.nPasswordFd);
        const int fd = DupFd(options.nPasswordFd);
        pFile = fd < 0 ? nullptr : OpenFd(fd);
        if (!pFile && fd >= 0)
            CloseFd(fd);
    }
    if (!pFile) {
        strError = "cannot read " + strSource + ": " + std::strerror(errno);
        return false;
    }
    // The password passes through the stream's buffer: ours, wiped after reading.
    char achBuffer[4096];
    if (pFile != stdin)
        std::setvbuf(pFile, achBuffer, _IOFBF, sizeof achBuffer);
    errno = 0;
    std::string strWhy;
    const bool bRead = ReadFirstLine(pFile, strPassword, strWhy);
    if (pFile != stdin)
        std::fclose(pFile);  // read only: nothing to lose
    SecureZero(achBuffer, sizeof achBuffer);
    if (!bRead)
        strError = "cannot read " + strSource + ": " + strWhy;
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
    const bool bOk = options.PasswordGiven() ? ReadPasswordFrom(options, bEncrypting, strPassword, strError)
                                             : AskOnTerminal(bEncrypting, strPassword, strError);
    SecureZero(g_achStdinBuffer, sizeof g_achStdinBuffer);
    if (bOk && std::strlen(strPassword) != size_t(strPassword.GetLength())) {
        strPassword.SecureEmpty();
        strError = kHasNul;
        return false;
    }
    return bOk;
}
