// The kestrin tool as a user runs it: outputs, messages, exit codes.
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int nExit;
    std::string strOut;
    std::string strErr;
};

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void Spit(const fs::path& path, const std::string& strData)
{
    std::ofstream(path, std::ios::binary) << strData;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::temp_directory_path() / (std::string("kestrin-cli-") + pInfo->name() + "-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        Spit(m_dir / "pw", "open sesame\n");
        Spit(m_dir / "report.txt", Text(30000));
        // comp WORDS...: what the completion offers for the last word, sorted.
        Spit(m_dir / "comp.sh", "source /usr/share/bash-completion/bash_completion\n"
                                "source '" KESTRIN_SOURCE_DIR "/cli/kestrin.bash'\n"
                                "comp() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMP_LINE=\"$*\"; "
                                "COMP_POINT=${#COMP_LINE}; COMPREPLY=(); _kestrin; "
                                "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '; echo; }\n");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Runs the tool in the scratch folder; stdin from /dev/null unless given.
    // Without bTool, strArgs is the whole command. The tool runs without a
    // controlling terminal, as in CI, whoever runs the tests.
    ToolRun Kestrin(const std::string& strArgs, const std::string& strStdin = "", bool bTool = true)
    {
        std::string strIn = "/dev/null";
        if (!strStdin.empty()) {
            Spit(m_dir / ".stdin", strStdin);
            strIn = ".stdin";
        }
        const std::string strCmd = "cd '" + m_dir.string() + "' && " + (bTool ? "setsid -w '" KESTRIN_CLI "' " : "") +
                                   strArgs + " <" + strIn + " >.stdout 2>.stderr";
        const int nStatus = std::system(strCmd.c_str());
        ToolRun run{WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, Slurp(m_dir / ".stdout"), Slurp(m_dir / ".stderr")};
        for (const char* psz : {".stdin", ".stdout", ".stderr"})
            fs::remove(m_dir / psz);
        return run;
    }

    // Starts the tool in the background; returns its process id. Its exit
    // status goes to .rc, its output to .stdout and .stderr.
    std::string Start(const std::string& strArgs)
    {
        fs::remove(m_dir / ".rc");
        const std::string strCmd = "cd '" + m_dir.string() + "' && { sh -c 'echo $$ >.pid; exec \"$0\" \"$@\"' '" KESTRIN_CLI
                                   "' " + strArgs + " </dev/null >.stdout 2>.stderr; echo $? >.rc; } &";
        fs::remove(m_dir / ".pid");
        EXPECT_EQ(std::system(strCmd.c_str()), 0);
        for (int i = 0; i < 1000 && Slurp(m_dir / ".pid").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return Slurp(m_dir / ".pid").substr(0, Slurp(m_dir / ".pid").find('\n'));
    }

    // The exit status of what Start started, or -1 when it does not end.
    int WaitForExit()
    {
        for (int i = 0; i < 3000 && Slurp(m_dir / ".rc").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string strRc = Slurp(m_dir / ".rc");
        return strRc.empty() ? -1 : std::atoi(strRc.c_str());
    }

    bool TemporaryGrownTo(const fs::path& folder, uintmax_t nBytes) const
    {
        for (const std::string& strName : PartialFiles(folder)) {
            std::error_code ec;
            if (fs::file_size(folder / strName, ec) >= nBytes && !ec)
                return true;
        }
        return false;
    }

    static std::string Noise(size_t n)
    {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i)
            s[i] = char((i * 2654435761u) >> 11);
        return s;
    }

    // The temporary outputs in a folder (the scratch folder by default).
    std::vector<std::string> PartialFiles(fs::path folder = fs::path()) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.empty() ? m_dir : folder)) {
            const std::string strName = entry.path().filename().string();
            if (strName.size() > 8 && strName.compare(strName.size() - 8, 8, ".partial") == 0)
                names.push_back(strName);
        }
        return names;
    }

    static std::string Text(size_t n)
    {
        std::string s;
        for (size_t i = 0; s.size() < n; ++i)
            s += "line " + std::to_string(i * 7919 % 1000) + " of the report\n";
        s.resize(n);
        return s;
    }

    // The text inside single quotes for bash -c.
    static std::string Quoted(const std::string& str)
    {
        std::string strOut;
        for (char c : str)
            strOut += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return strOut;
    }

    static void ExpectText(const std::string& strGot, const std::string& strWanted)
    {
        if (!strWanted.empty() && strWanted.back() == '*')
            EXPECT_EQ(strGot.substr(0, strWanted.size() - 1), strWanted.substr(0, strWanted.size() - 1));
        else
            EXPECT_EQ(strGot, strWanted);
    }

    struct TerminalRun {
        int nExit;
        std::string strTty;      // all the terminal showed
        size_t nResizedAt;       // where in it the window was narrowed; npos: it was not
    };

    // Runs strCmd (bash) in the scratch folder on a new pseudo-terminal of
    // nColumns, standard input included. Each answer is typed once the
    // terminal shows one more password prompt; nResizeTo narrows the window
    // once a progress line shows the time left.
    TerminalRun OnTerminal(const std::string& strCmd, int nColumns, const std::vector<std::string>& answers = {},
                           int nResizeTo = 0)
    {
        winsize size = {};
        size.ws_row = 24;
        size.ws_col = (unsigned short)nColumns;
        int fdMaster = -1;
        const pid_t pid = forkpty(&fdMaster, nullptr, nullptr, &size);
        if (pid == 0) {
            if (chdir(m_dir.c_str()) == 0)
                execl("/bin/bash", "bash", "-c", strCmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        TerminalRun run{-1, std::string(), std::string::npos};
        if (pid < 0)
            return run;
        size_t nAnswered = 0;
        for (;;) {
            pollfd poller = {fdMaster, POLLIN, 0};
            if (poll(&poller, 1, 30000) <= 0)
                break;
            char ach[4096];
            const ssize_t n = read(fdMaster, ach, sizeof ach);
            if (n <= 0)
                break;  // EIO: the last process on the terminal has gone
            run.strTty.append(ach, size_t(n));
            if (nResizeTo && run.nResizedAt == std::string::npos && run.strTty.find(" left") != std::string::npos) {
                size.ws_col = (unsigned short)nResizeTo;
                ioctl(fdMaster, TIOCSWINSZ, &size);  // SIGWINCH to the program on it
                run.nResizedAt = run.strTty.size();
            }
            const size_t nPrompts = Count(run.strTty, "Password: ") + Count(run.strTty, "Password again: ");
            for (; nAnswered < answers.size() && nAnswered < nPrompts; ++nAnswered) {
                const std::string strLine = answers[nAnswered] + "\n";
                EXPECT_EQ(write(fdMaster, strLine.data(), strLine.size()), ssize_t(strLine.size()));
            }
        }
        close(fdMaster);
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
        return run;
    }

    static size_t Count(const std::string& s, const std::string& strPart)
    {
        size_t n = 0;
        for (size_t at = s.find(strPart); at != std::string::npos; at = s.find(strPart, at + 1))
            ++n;
        return n;
    }

    // The progress line's frames: what stands between carriage returns, blanks trimmed.
    static std::vector<std::string> Frames(const std::string& strTty)
    {
        std::vector<std::string> frames;
        std::string f;
        for (char c : strTty + "\r") {
            if (c != '\r' && c != '\n') {
                f += c;
                continue;
            }
            while (!f.empty() && f.back() == ' ')
                f.pop_back();
            if (f.find('%') != std::string::npos && f.find("kestrin:") == std::string::npos)
                frames.push_back(f);
            f.clear();
        }
        return frames;
    }

    fs::path m_dir;
};

TEST_F(Cli, EveryMethodRoundTrips)
{
    std::string strBinary;
    for (int i = 0; i < 100000; ++i)
        strBinary += char((i * 2654435761u) >> 13);
    Spit(m_dir / "data.bin", strBinary);
    for (const char* pszMethod : {"sapphire", "des", "des-cbc", "blowfish"}) {
        SCOPED_TRACE(pszMethod);
        ToolRun enc = Kestrin(std::string("encrypt -m ") + pszMethod + " --password-file pw report.txt data.bin");
        ASSERT_EQ(enc.nExit, 0) << enc.strErr;
        EXPECT_EQ(enc.strOut, "report.txt -> ./report._xt\ndata.bin -> ./data._in\n");
        EXPECT_EQ(enc.strErr.rfind("kestrin: warning: ", 0), 0u) << enc.strErr;
        fs::create_directories(m_dir / "out");
        fs::rename(m_dir / "report._xt", m_dir / "out" / "report._xt");
        fs::rename(m_dir / "data._in", m_dir / "out" / "data._in");
        ToolRun dec = Kestrin(std::string("decrypt -m ") + pszMethod + " --password-file pw out/report._xt out/data._in");
        ASSERT_EQ(dec.nExit, 0) << dec.strErr;
        EXPECT_EQ(dec.strOut, "out/report._xt -> out/report.txt\nout/data._in -> out/data.bin\n");
        EXPECT_EQ(Slurp(m_dir / "out" / "report.txt"), Text(30000));
        EXPECT_EQ(Slurp(m_dir / "out" / "data.bin"), strBinary);
        fs::remove_all(m_dir / "out");
    }
}

TEST_F(Cli, MethodNamesAndNumbersAreTheSame)
{
    for (const char* pszMethod : {"des-cbc", "DES-CBC", "'DES-CBC'", "2", "Des-Cbc"}) {
        ASSERT_EQ(Kestrin(std::string("encrypt -q -m ") + pszMethod + " --password-file pw report.txt").nExit, 0);
        ASSERT_EQ(Kestrin("verify -m des-cbc --password-file pw report._xt").nExit, 0) << pszMethod;
        fs::remove(m_dir / "report._xt");
    }
    ASSERT_EQ(Kestrin("encrypt -m 'Sapphire II' --password-file pw report.txt").nExit, 0);
    EXPECT_EQ(Kestrin("verify --password-file pw report._xt").strOut, "report._xt: OK (Sapphire II)\n");
}

TEST_F(Cli, ThreadCountsGiveTheSameContainer)
{
    Spit(m_dir / "big.txt", Text(300000));
    ASSERT_EQ(Kestrin("encrypt -q -m des-cbc --threads 1 --password-file pw big.txt").nExit, 0);
    fs::rename(m_dir / "big._xt", m_dir / "serial._xt");
    ASSERT_EQ(Kestrin("encrypt -q -m des-cbc --threads 3 --password-file pw big.txt").nExit, 0);
    EXPECT_TRUE(Slurp(m_dir / "big._xt") == Slurp(m_dir / "serial._xt"));
    EXPECT_EQ(Kestrin("verify -m des-cbc --threads 4 --password-file pw serial._xt").strOut, "serial._xt: OK\n");
}

TEST_F(Cli, TakenNamesAreNumbered)
{
    Spit(m_dir / "report._xt", "mine");
    ToolRun run = Kestrin("encrypt -m sapphire --password-file pw report.txt");
    EXPECT_EQ(run.strOut, "report.txt -> ./report1._xt (report._xt was taken)\n");
    EXPECT_EQ(Slurp(m_dir / "report._xt"), "mine");
    run = Kestrin("decrypt --password-file pw report1._xt");
    EXPECT_EQ(run.strOut, "report1._xt -> ./report1.txt (Sapphire II; report.txt was taken)\n");
    EXPECT_EQ(Slurp(m_dir / "report1.txt"), Text(30000));
}

TEST_F(Cli, FailedFilesReportTheirMessageAndTheFirstCodeIsTheExitStatus)
{
    ASSERT_EQ(Kestrin("encrypt -m sapphire --password-file pw report.txt").nExit, 0);
    Spit(m_dir / "plain.txt", "not a container");
    ToolRun run = Kestrin("decrypt -m blowfish --password-file pw report._xt missing._xt plain.txt");
    EXPECT_EQ(run.nExit, 5);
    EXPECT_EQ(run.strOut, "");
    EXPECT_EQ(run.strErr,
              "kestrin: report._xt: wrong password, or the container was made with another method\n"
              "kestrin: missing._xt: cannot read: No such file or directory\n"
              "kestrin: plain.txt: not a Kestrin container\n"
              "kestrin: 3 of 3 files failed\n");

    run = Kestrin("decrypt --password-file pw missing._xt report._xt");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.strOut, "report._xt -> ./report1.txt (Sapphire II; report.txt was taken)\n");  // goes on
}

// The authenticated container is found by its magic and names its failures.
TEST_F(Cli, AuthenticatedContainersSayWhatFailed)
{
    ASSERT_EQ(Kestrin("encrypt --password-file pw report.txt").nExit, 0);
    EXPECT_EQ(Slurp(m_dir / "report._xt").substr(0, 4), "VXJ2");
    EXPECT_NE(Kestrin("info --password-file pw report._xt").strOut.find("version 2 (VXJ2), authenticated"),
              std::string::npos);
    Spit(m_dir / "bad", "wrong horse\n");
    ToolRun run = Kestrin("verify -m des --password-file bad report._xt");
    EXPECT_EQ(run.nExit, 5);
    EXPECT_EQ(run.strErr, "kestrin: report._xt: wrong password (or a damaged header)\n");

    std::string box = Slurp(m_dir / "report._xt");
    box[box.size() - 20] ^= 1;
    Spit(m_dir / "cut._xt", box);
    run = Kestrin("decrypt --password-file pw cut._xt");
    EXPECT_EQ(run.nExit, 6);
    EXPECT_EQ(run.strErr.rfind("kestrin: cut._xt: altered or damaged at record ", 0), 0u) << run.strErr;
    EXPECT_NE(run.strErr.find(" (byte offset "), std::string::npos) << run.strErr;
    EXPECT_NE(run.strErr.find("; nothing was written\n"), std::string::npos) << run.strErr;
    EXPECT_FALSE(fs::exists(m_dir / "report1.txt"));
    EXPECT_EQ(Kestrin("decrypt -m blowfish --password-file pw report._xt").strOut,
              "report._xt -> ./report1.txt (report.txt was taken)\n");
}

TEST_F(Cli, FoldersInTheWayAreNumberedPast)
{
    ASSERT_EQ(Kestrin("encrypt -m sapphire --password-file pw report.txt").nExit, 0);
    fs::create_directories(m_dir / "ro");
    fs::rename(m_dir / "report._xt", m_dir / "ro" / "report._xt");
    fs::remove(m_dir / "report.txt");
    fs::create_directory(m_dir / "ro" / "report.txt");  // taken by a folder
    fs::create_directory(m_dir / "ro" / "report1.txt");
    ToolRun run = Kestrin("decrypt --password-file pw ro/report._xt");
    EXPECT_EQ(run.nExit, 0) << "numbered past the folders: " << run.strErr;
    EXPECT_EQ(run.strOut, "ro/report._xt -> ro/report2.txt (Sapphire II; report.txt was taken)\n");
}

TEST_F(Cli, VerifyWritesNothing)
{
    ASSERT_EQ(Kestrin("encrypt -m des --password-file pw report.txt").nExit, 0);
    fs::remove(m_dir / "report.txt");
    ToolRun run = Kestrin("verify -m des --password-file pw report._xt");
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.strOut, "report._xt: OK\n");
    EXPECT_FALSE(fs::exists(m_dir / "report.txt"));
    run = Kestrin("verify -m des --password-stdin report._xt", "wrong one\n");
    EXPECT_EQ(run.nExit, 5);
    EXPECT_FALSE(fs::exists(m_dir / "report.txt"));
}

TEST_F(Cli, PasswordIsTheFirstLineWithoutItsEnd)
{
    ASSERT_EQ(Kestrin("encrypt -m sapphire --password-stdin report.txt", "open sesame\r\nsecond line\n").nExit, 0);
    EXPECT_EQ(Kestrin("verify --password-file pw report._xt").nExit, 0);
    EXPECT_EQ(Kestrin("verify --password-stdin report._xt", "open sesame").nExit, 0);
    EXPECT_EQ(Kestrin("verify --password-stdin report._xt", "open sesame \n").nExit, 5);
}

TEST_F(Cli, UsageErrors)
{
    Spit(m_dir / "short", "abc\n");
    const char* const kCases[] = {
        "",
        "frobnicate report.txt",
        "encrypt --password-file pw",
        "encrypt -m rot13 --password-file pw report.txt",
        "encrypt -m",
        "encrypt --bogus --password-file pw report.txt",
        "encrypt --password-file pw --password-stdin report.txt",
        "encrypt report.txt",                          // no password source, no terminal
        "decrypt report.txt",
        "verify -o d --password-file pw report.txt",  // options of other commands
        "info --force --password-file pw report.txt",
        "info -v --password-file pw report.txt",
        "encrypt --name x --password-file pw report.txt",
        "encrypt -o a -O b --password-file pw report.txt",
        "encrypt -o a --password-file pw report.txt pw",
        "encrypt -r -o a --password-file pw .",
        "encrypt -O - --password-file pw report.txt",
        "encrypt -q -v --password-file pw report.txt",
        "encrypt --password-file short report.txt",  // fewer than 4 characters
        "encrypt --password-file missing-pw report.txt",
        "--version extra",
        "encrypt --threads 0 --password-file pw report.txt",
        "encrypt --threads 65 --password-file pw report.txt",
        "encrypt --threads 2x --password-file pw report.txt",
        "encrypt --password-file pw report.txt --threads",
    };
    for (const char* pszArgs : kCases) {
        ToolRun run = Kestrin(pszArgs);
        EXPECT_EQ(run.nExit, 64) << pszArgs;
        EXPECT_EQ(run.strErr.rfind("kestrin: ", 0), 0u) << pszArgs << ": " << run.strErr;
    }
    EXPECT_EQ(Kestrin("encrypt --password-file short report.txt").strErr,
              "kestrin: the password must have at least 4 characters\n");
    EXPECT_EQ(fs::exists(m_dir / "report._xt"), false);
}

TEST_F(Cli, ShortPasswordIsFineForDecrypting)
{
    Spit(m_dir / "plain.txt", "not a container");
    EXPECT_EQ(Kestrin("decrypt --password-stdin plain.txt", "ab\n").nExit, 4);
}

TEST_F(Cli, HelpAndVersion)
{
    ToolRun help = Kestrin("--help");
    EXPECT_EQ(help.nExit, 0);
    EXPECT_EQ(help.strOut.rfind("usage: kestrin encrypt", 0), 0u);
    ToolRun version = Kestrin("--version");
    EXPECT_EQ(version.nExit, 0);
    EXPECT_EQ(version.strOut.rfind("kestrin ", 0), 0u);
}

TEST_F(Cli, OptionsAfterFilesAndDoubleDash)
{
    Spit(m_dir / "-dash.txt", "x");
    ToolRun run = Kestrin("encrypt report.txt --password-file pw -- -dash.txt");
    EXPECT_EQ(run.nExit, 0) << run.strErr;
    EXPECT_EQ(run.strOut, "report.txt -> ./report._xt\n-dash.txt -> ./-dash._xt\n");
}

// On a terminal the tool shows a progress line that fits its width, also
// after the window is resized; -q and a pipe show none.
TEST_F(Cli, ProgressFitsTheTerminal)
{
    Spit(m_dir / "big.bin", Noise(24000000));
    Spit(m_dir / "mid.bin", Noise(8000000));
    const std::string strRun = "'" KESTRIN_CLI "' encrypt -m des --threads 1 --password-file pw big.bin mid.bin";
    for (int nColumns : {50, 120}) {
        SCOPED_TRACE(nColumns);
        fs::remove(m_dir / "big._in");
        fs::remove(m_dir / "mid._in");
        const TerminalRun run = OnTerminal(strRun, nColumns, {}, nColumns == 120 ? 50 : 0);
        ASSERT_EQ(run.nExit, 0) << run.strTty;
        // The file, its place, percent, bytes, rate and time left: all of it at 120.
        const std::vector<std::string> frames = Frames(run.strTty.substr(0, run.nResizedAt));
        ASSERT_FALSE(frames.empty()) << run.strTty;
        bool bWhole = false;
        for (const std::string& f : frames) {
            EXPECT_LE(f.size(), size_t(nColumns - 1)) << f;
            bWhole |= f.find("big.bin  1/2  ") == 0 && f.find(" of 22.9 MiB  ") != std::string::npos &&
                      f.find(" MiB/s  ") != std::string::npos && f.find(" left") != std::string::npos;
        }
        EXPECT_EQ(bWhole, nColumns == 120) << run.strTty;
        // The next file's line is asked its own width.
        std::smatch m;
        EXPECT_TRUE(std::regex_search(run.strTty, m, std::regex("\rmid.bin  2/2  [ 0-9]+%  "))) << run.strTty;
        // Narrowed to 50 columns while it ran: it follows.
        if (nColumns == 120) {
            ASSERT_NE(run.nResizedAt, std::string::npos) << "finished before the resize: use a bigger file";
            for (const std::string& f : Frames(run.strTty.substr(run.nResizedAt)))
                EXPECT_LE(f.size(), 49u) << f;
        }
    }
    fs::remove(m_dir / "big._in");
    const TerminalRun quiet = OnTerminal("'" KESTRIN_CLI "' encrypt -q -m des --password-file pw big.bin", 80);
    EXPECT_EQ(quiet.strTty, "");
    fs::remove(m_dir / "big._in");
    EXPECT_EQ(Kestrin("encrypt --password-file pw big.bin").strErr, "");
    const TerminalRun refused = OnTerminal("'" KESTRIN_CLI "' encrypt --password-file pw --name x -o - - <report.txt", 80);
    EXPECT_EQ(refused.nExit, 64);
    EXPECT_NE(refused.strTty.find("kestrin: a container is not for the terminal"), std::string::npos) << refused.strTty;
}

// A reader that goes away ends the run as a signal does: the progress line
// ends with its newline, nothing more is said, and the status is 128+13.
TEST_F(Cli, ProgressEndsWithANewlineWhenTheReaderGoesAway)
{
    Spit(m_dir / "big.bin", Noise(24000000));
    const TerminalRun run = OnTerminal("'" KESTRIN_CLI "' encrypt --threads 1 --password-file pw -o - big.bin |"
                                       " { head -c 1 >/dev/null; sleep 1; }; echo \"exit ${PIPESTATUS[0]}\"", 80);
    const size_t nExit = run.strTty.find("exit 141");
    ASSERT_NE(nExit, std::string::npos) << run.strTty;
    ASSERT_NE(run.strTty.find('%'), std::string::npos) << "no progress line shown: " << run.strTty;
    EXPECT_EQ(run.strTty.substr(nExit - 2, 2), "\r\n") << run.strTty;  // the terminal's newline is \r\n
    EXPECT_EQ(run.strTty.find("kestrin:"), std::string::npos) << run.strTty;
}

// With standard input a pipe, the password is asked on the terminal, twice,
// without echo; a short one and a mismatch are said there; a wrong one
// fails as from a file.
TEST_F(Cli, PasswordIsAskedOnTheTerminalWhenStandardInputIsAPipe)
{
    const std::string strTool = "'" KESTRIN_CLI "'";
    TerminalRun run = OnTerminal("seq 10 | " + strTool + " encrypt --name s.txt -o s._xt -; echo \"exit $?\"; stty -a",
                                 80, {"abc", "open sesame", "sesame open", "open sesame", "open sesame"});
    EXPECT_NE(run.strTty.find("kestrin: the password must have at least 4 characters\r\n"), std::string::npos)
        << run.strTty;
    EXPECT_NE(run.strTty.find("kestrin: the passwords do not match\r\n"), std::string::npos) << run.strTty;
    EXPECT_NE(run.strTty.find("Password again: "), std::string::npos) << run.strTty;
    EXPECT_NE(run.strTty.find("- -> ./s._xt\r\nexit 0"), std::string::npos) << run.strTty;
    EXPECT_EQ(run.strTty.find("sesame"), std::string::npos) << "echoed: " << run.strTty;
    EXPECT_NE(run.strTty.find(" echo "), std::string::npos) << run.strTty;
    EXPECT_EQ(Kestrin("decrypt --password-file pw -o - s._xt").strOut, "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n");
    run = OnTerminal("cat s._xt | " + strTool + " decrypt -o - -; echo \"exit $?\"", 80, {"wrong"});
    EXPECT_NE(run.strTty.find("kestrin: -: wrong password (or a damaged header)"), std::string::npos) << run.strTty;
    EXPECT_NE(run.strTty.find("exit 5"), std::string::npos) << run.strTty;
}

// An interrupt becomes a cancel request: the worker stops at its next block
// and the partial container goes.
TEST_F(Cli, InterruptRemovesThePartialOutput)
{
    Spit(m_dir / "huge.bin", Noise(60000000));
    const std::string strPid = Start("encrypt -m des --password-file pw huge.bin");
    for (int i = 0; i < 500 && PartialFiles().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(PartialFiles().size(), 1u);
    ASSERT_EQ(std::system(("kill -INT " + strPid).c_str()), 0);
    EXPECT_EQ(WaitForExit(), 130);
    EXPECT_FALSE(fs::exists(m_dir / "huge._in"));
    EXPECT_TRUE(PartialFiles().empty());
    EXPECT_NE(Slurp(m_dir / ".stderr").find("interrupted"), std::string::npos);
}

// A user's session, line by line: each command line with its exit status,
// standard output, standard error (exact, or a prefix when it ends in '*')
// and the files it must leave, and not leave, behind. Lines build on the
// files of earlier lines. $K is the tool; sap/des/cbc/bf._xt hold report.txt
// made with each method, aes._xt with the authenticated one.
struct SessionLine {
    const char* pszCommand;
    int nExit;
    const char* pszOut;
    const char* pszErr;
    std::vector<const char*> made;
    std::vector<const char*> absent;
};

#define KESTRIN_WRONG_PASSWORD "wrong password, or the container was made with another method\n"
#define KESTRIN_WEAK(name) "kestrin: warning: " name " is an older method, kept for existing containers (not " \
    "authenticated, its key not salted); choose -m aes (AES-256-GCM, authenticated) for anything new\n"
#define KESTRIN_SKIPPED "skipped: already a Kestrin container (-f encrypts it anyway)\n"

const SessionLine kSession[] = {
    // output folder (made when missing) and output file (refused when it exists, replaced with -f)
    {"$K encrypt -m sapphire --password-file pw -O out report.txt", 0, "report.txt -> out/report._xt\n",
     KESTRIN_WEAK("Sapphire II"), {"out/report._xt"}, {"report._xt"}},
    {"$K decrypt --password-file=pw --output-dir=out sap._xt", 0, "sap._xt -> out/report.txt (Sapphire II)\n", "", {"out/report.txt"}, {}},
    {"$K encrypt -q --password-file pw -O new/deeper report.txt", 0, "", "", {"new/deeper/report._xt"}, {"report._xt"}},
    {"$K encrypt -q --password-file pw -O pw report.txt", 2, "", "kestrin: pw: cannot make the folder: *", {}, {"report._xt"}},
    {"ulimit -f 2; $K encrypt -q --password-file pw -O lim report.txt; s=$?; ls -A lim; exit $s", 2, "",
     "kestrin: lim/report._xt: cannot write: File too large\n", {}, {}},  // past the size limit: no temporary left
    {"$K decrypt --password-file pw -o named.txt sap._xt && cmp named.txt report.txt", 0,
     "sap._xt -> ./named.txt (Sapphire II)\n", "", {"named.txt"}, {"report1.txt"}},
    {"$K decrypt -q --password-file pw -O twice sap._xt ./sap._xt", 0, "", "", {"twice/report.txt"}, {"twice/report1.txt"}},
    {"$K decrypt --password-file pw -o named.txt des._xt", 1, "", "kestrin: named.txt: already exists (-f replaces it)\n", {}, {"named1.txt"}},
    {"echo mine >named.txt; $K decrypt -f --password-file pw -o named.txt des._xt && cmp named.txt report.txt", 0,
     "des._xt -> ./named.txt (DES)\n", "", {}, {"named1.txt"}},
    {"$K encrypt -q --password-file pw -o report.enc report.txt && $K decrypt --password-file pw -o - report.enc |"
     " cmp - report.txt", 0, "", "report.enc -> - (AES-256-GCM, authenticated)\n", {"report.enc"}, {}},
    {"cp sap._xt dmg._xt; printf \"\\x55\\x55\" | dd of=dmg._xt bs=1 seek=$(( $(stat -c %s dmg._xt) - 20 ))"
     " conv=notrunc 2>/dev/null; echo mine >kept.txt; $K decrypt -f --password-file pw -o kept.txt dmg._xt; cat kept.txt",
     0, "mine\n", "kestrin: dmg._xt: damaged at block *", {}, {}},  // only a whole file replaces one
    {"$K encrypt -f --password-file pw -o report.txt report.txt", 1, "", "kestrin: report.txt: is the input itself\n", {}, {}},
    {"$K decrypt -f --password-file pw -o /dev/null sap._xt", 1, "", "kestrin: /dev/null: exists and is not a regular file\n", {}, {}},
    {"$K decrypt --password-file pw -o out sap._xt", 1, "", "kestrin: out: is a folder (-O out puts the outputs in it)\n", {}, {}},
    // method detection, and a wrong password or method
    {"$K verify --password-file pw sap._xt des._xt cbc._xt bf._xt", 0,
     "sap._xt: OK (Sapphire II)\ndes._xt: OK (DES)\ncbc._xt: OK (DES-CBC)\nbf._xt: OK (Blowfish)\n", "", {}, {}},
    {"$K decrypt --password-file pw -O out cbc._xt", 0, "cbc._xt -> out/report1.txt (DES-CBC; report.txt was taken)\n", "",
     {"out/report1.txt"}, {}},
    {"$K verify --password-stdin sap._xt bf._xt <<<wrong", 5, "",
     "kestrin: sap._xt: " KESTRIN_WRONG_PASSWORD "kestrin: bf._xt: " KESTRIN_WRONG_PASSWORD "kestrin: 2 of 2 files failed\n", {}, {}},
    {"$K decrypt --password-stdin -O out bf._xt <<<wrong", 5, "", "kestrin: bf._xt: wrong password*", {}, {"out/report2.txt"}},
    {"$K verify -m des --password-file pw bf._xt", 6, "",
     "kestrin: bf._xt: damaged at block 1 (byte offset 20), or the container was made with another method\n", {}, {}},
    {"head -c 100 des._xt >cut._xt; $K verify --password-file pw cut._xt", 6, "",
     "kestrin: cut._xt: damaged at block 1 (byte offset 20)\n", {}, {}},
    {"$K decrypt --password-file pw report.txt missing._xt", 4, "",
     "kestrin: report.txt: not a Kestrin container\n"
     "kestrin: missing._xt: cannot read: No such file or directory\nkestrin: 2 of 2 files failed\n", {}, {}},
    {": >e0; $K encrypt -q -m blowfish --password-file pw e0 && $K info --password-file pw e0._", 0,
     "e0._\n  name:       e0\n  method:     DES, DES-CBC or Blowfish: the method cannot be told from an empty file\n"
     "  blocks:     0\n  plain size: 0 bytes\n  container:  *", "", {}, {}},
    // -q, -v and the warning for the older methods
    {"$K encrypt -q -m des --password-file pw -o q._xt report.txt", 0, "", "", {"q._xt"}, {}},
    {"$K verify -v --password-file pw q._xt", 0, "q._xt: OK (DES; *", "", {}, {}},
    {"$K encrypt -vf --password-file pw -O out report.txt", 0,
     "report.txt -> out/report1._xt (AES-256-GCM, authenticated; report._xt was taken; 30000 -> *", "", {}, {}},
    // standard input and output through pipes, every method
    {"for m in sapphire des des-cbc blowfish; do $K encrypt -m $m --password-file pw --name r.txt -o - - <report.txt |"
     " $K decrypt --password-file pw -o - - | cmp - report.txt && echo $m; done", 0, "sapphire\ndes\ndes-cbc\nblowfish\n",
     KESTRIN_WEAK("Sapphire II") "- -> -\n- -> - (Sapphire II)\n" KESTRIN_WEAK("DES") "- -> -\n- -> - (DES)\n"
     KESTRIN_WEAK("DES-CBC") "- -> -\n- -> - (DES-CBC)\n" KESTRIN_WEAK("Blowfish") "- -> -\n- -> - (Blowfish)\n", {},
     {"r.txt", "r._xt"}},
    {"cat report.txt | $K encrypt -m sapphire --password-file pw --name=piped.txt -", 0, "- -> ./piped._xt\n",
     KESTRIN_WEAK("Sapphire II"), {"piped._xt"}, {}},
    {"$K decrypt --password-file pw -O out - <piped._xt", 0, "- -> out/piped.txt (Sapphire II)\n", "", {"out/piped.txt"}, {}},
    {"{ cat sap._xt; printf ab; } | $K verify --password-file pw -", 1, "", "kestrin: -: damaged at block 9 (byte offset *", {}, {}},
    {"$K encrypt --password-file pw - <report.txt", 64, "", "kestrin: encrypting standard input needs --name NAME*", {}, {}},
    {"$K encrypt --password-stdin --name x - <report.txt", 64, "", "kestrin: standard input cannot hold both*", {}, {}},
    {"$K decrypt --password-fd 0 -o - - <sap._xt", 64, "", "kestrin: standard input cannot hold both*", {}, {}},
    {"$K encrypt --password-file pw --name sub/ -o - - <report.txt", 64, "",
     "kestrin: --name needs a file name, not a folder: sub/\n*", {}, {}},
    {"$K decrypt --password-file pw -o nodir/ sap._xt", 64, "", "kestrin: -o needs a file name, not a folder: nodir/\n*",
     {}, {"nodir"}},
    {"$K decrypt --password-file pw -o - sap._xt des._xt", 64, "", "kestrin: -o names the output of one input*", {}, {}},
    {"cp aes._xt self._xt; $K decrypt --password-file pw -o - self._xt >>self._xt; s=$?; cmp self._xt aes._xt && exit $s",
     1, "", "kestrin: self._xt: is standard output too: its output would be written into it\n", {}, {}},
    {"cp report.txt grow.txt; $K encrypt --password-file pw --name g.txt -o - - <grow.txt >>grow.txt; s=$?; cmp grow.txt report.txt "
     "&& exit $s", 1, "", "kestrin: -: is standard output too: its output would be written into it\n", {}, {}},
    // folders, with a symbolic link that loops back up; a second encrypt -r changes nothing
    {"$K encrypt --password-file pw tree", 1, "", "kestrin: tree: is a folder (-r works on the files below it)\n", {}, {}},
    {"echo left >tree/.kestrin-0123abcd.partial; $K encrypt -r -m sapphire --password-file pw tree", 0,
     "tree/a.txt -> tree/a._xt\ntree/sub/b.dat -> tree/sub/b._at\n",
     KESTRIN_WEAK("Sapphire II"), {"tree/a._xt", "tree/sub/b._at"}, {"tree/.kestrin-0123abcd._artial"}},
    {"$K encrypt -r --password-file pw tree", 0, "",
     "kestrin: tree/a._xt: " KESTRIN_SKIPPED "kestrin: tree/a.txt: skipped: tree/a._xt is a Kestrin container already "
     "(-f makes another beside it)\nkestrin: tree/sub/b._at: " KESTRIN_SKIPPED "kestrin: tree/sub/b.dat: skipped: "
     "tree/sub/b._at is a Kestrin container already (-f makes another beside it)\n", {}, {"tree/a1._xt", "tree/sub/b1._at"}},
    {"$K encrypt -rq tree", 0, "", "", {}, {"tree/a1._xt"}},  // nothing to do: no password asked for
    {"$K encrypt -rq --password-file pw tree && $K encrypt -f -m des --password-file pw tree/a._xt", 0,
     "tree/a._xt -> tree/a1._xt (a._xt was taken)\n", KESTRIN_WEAK("DES"), {"tree/a1._xt"}, {}},
    {"rm tree/a1._xt; cp des._xt tree/sub/notes; head -c 99 des._xt >tree/sub/.kestrin-4567cdef.partial;"
     " $K verify -rq --password-file pw tree", 0, "", "", {}, {}},
    {"$K verify -r --password-file pw tree", 0,
     "tree/a._xt: OK (Sapphire II)\ntree/sub/b._at: OK (Sapphire II)\ntree/sub/notes: OK (DES)\n", "", {}, {}},
    {"$K info -r --password-file pw tree | grep -c name:", 0, "3\n", "", {}, {}},
    // a folder -r cannot read is said, not skipped in silence ($AS_USER: root reads any folder)
    {"chmod -R a+rX . && chmod 000 tree/sub && $AS_USER $K verify -rq --password-file pw tree; s=$?; chmod 755 tree/sub;"
     " exit $s", 1, "", "kestrin: tree/sub: cannot read the folder: Permission denied\nkestrin: 1 of 2 files failed\n", {}, {}},
    {"$K decrypt -r --password-file pw -O out tree", 0,
     "tree/a._xt -> out/tree/a.txt (Sapphire II)\ntree/sub/b._at -> out/tree/sub/b.dat (Sapphire II)\n"
     "tree/sub/notes -> out/tree/sub/report.txt (DES)\n", "", {"out/tree/a.txt", "out/tree/sub/b.dat", "out/tree/sub/report.txt"}, {"out/tree/sub/loop"}},
    {"mkdir -p none && $K verify -r --password-file pw none des._xt", 1, "des._xt: OK (DES)\n",
     "kestrin: none: no containers found below it\nkestrin: 1 of 2 files failed\n", {}, {}},
    // the authenticated method: through pipes, cut, altered; its password bytes decided per file
    {"$K encrypt --password-file pw --name r.txt -o - - <report.txt | $K decrypt --password-file pw -o - - |"
     " cmp - report.txt && echo aes", 0, "aes\n", "- -> -\n- -> - (AES-256-GCM, authenticated)\n", {}, {"r.txt", "r._xt"}},
    {"head -c $(( $(stat -c %s aes._xt) / 2 )) aes._xt | $K decrypt -m aes --password-file pw -o - - >part; s=$?;"
     " n=$(wc -c <part); cmp -s part <(head -c $n report.txt) && [ $((n % 4096)) = 0 ] && [ $n -gt 0 ] &&"
     " echo \"exit $s, whole records only\"", 0, "exit 6, whole records only\n",
     "kestrin: -: altered or damaged at record *", {}, {}},
    {"$K decrypt --password-stdin -O out aes._xt <<<wrong", 5, "",
     "kestrin: aes._xt: wrong password (or a damaged header); nothing was written\n", {}, {"out/report3.txt"}},
    {"$K verify --password-stdin aes._xt <<<''", 5, "", "kestrin: aes._xt: wrong password (or a damaged header)\n", {}, {}},
    {"cp aes._xt hdr._xt; printf \"\\x81\\x96\\x98\\x00\" | dd of=hdr._xt bs=1 seek=6 conv=notrunc 2>/dev/null;"
     " $K verify --password-file pw hdr._xt", 6, "", "kestrin: hdr._xt: damaged header: iterations 10000001 out of range\n",
     {}, {}},
    {"printf \"s\\xe9same\\n\" >pw8; $K encrypt --password-file pw8 report.txt", 64, "",
     "kestrin: the password is not valid UTF-8*", {}, {"report._xt"}},
    {"$K encrypt -q -m des --password-file pw8 -O out8 report.txt &&"
     " $K decrypt --password-file pw8 -O out8 out8/report._xt aes._xt", 5, "out8/report._xt -> out8/report.txt (DES)\n",
     "kestrin: aes._xt: the password is not valid UTF-8, which an authenticated container's key is made from; "
     "nothing was written\nkestrin: 1 of 2 files failed\n", {"out8/report.txt"}, {"out8/report1.txt"}},
    // the same password as UTF-8: that key form fails, the code page form opens it
    {"printf \"s\\xc3\\xa9same\\n\" | $K verify --password-stdin out8/report._xt", 0, "out8/report._xt: OK (DES)\n", "", {}, {}},
    // info; a stored name cannot steer the terminal or forge a line
    {"echo hi | $K encrypt -q --password-file pw --name \"$(printf \"a\\033[2J\\nb\\302\\233\\342\\200\\256t.txt\")\" "
     "-o ctl._xt - && $K info --password-file pw ctl._xt | grep name:",
     0, "  name:       a\\x1B[2J\\x0Ab\\x9B\\u202Et.txt\n", "", {}, {}},
    {"echo x >\"$(printf \"c\\033d.txt\")\"; $K encrypt --password-file pw c?d.txt", 0, "c\\x1Bd.txt -> ./c\\x1Bd._xt\n", "",
     {}, {}},  // nor can a file's name
    {"$K info --password-file pw bf._xt", 0,
     "bf._xt\n  name:       report.txt\n  method:     Blowfish\n  blocks:     8\n  plain size: 30000 bytes\n  container:  *", "", {}, {}},
    // every password source, and what is wrong with one
    {"$K verify --password-fd 3 des._xt 3<pw", 0, "des._xt: OK (DES)\n", "", {}, {}},
    {"$K verify -q --password-fd 3 des._xt 3<pw", 0, "", "", {}, {}},
    {"KPW='open sesame' $K verify --password-env KPW des._xt", 0, "des._xt: OK (DES)\n", "", {}, {}},
    {"$K verify --password-env=NOPE des._xt", 64, "", "kestrin: the environment variable NOPE is not set\n", {}, {}},
    {"$K verify --password-fd 9 des._xt", 64, "", "kestrin: cannot read the password from file descriptor 9: Bad file descriptor\n", {}, {}},
    {"$K verify --password-fd=x des._xt", 64, "", "kestrin: not a file descriptor: x\n*", {}, {}},
    {"$K verify --password-env KPW --password-file pw des._xt", 64, "", "kestrin: give one password source*", {}, {}},
    {"$K verify --password-file= des._xt", 64, "", "kestrin: --password-file needs a file name\n*", {}, {}},
    {": >nopw; $K verify --password-file nopw des._xt", 64, "", "kestrin: cannot read the password file nopw: it is empty\n", {}, {}},
    {"$K verify --password-file nowhere/pw des._xt", 64, "",
     "kestrin: cannot read the password file nowhere/pw: No such file or directory\n", {}, {}},
    // what is not a regular file, named as such
    {"mkfifo fifo; $K encrypt --password-file pw /dev/null fifo", 1, "",
     "kestrin: /dev/null: not a regular file\nkestrin: fifo: not a regular file\nkestrin: 2 of 2 files failed\n", {}, {}},
    // --opt=value and bundled short options; each command's own options only
    {"$K verify --method=des --password-file=pw des._xt", 0, "des._xt: OK\n", "", {}, {}},
    {"$K verify -qmblowfish --password-file pw bf._xt", 0, "", "", {}, {}},
    {"$K encrypt --method=auto --password-file pw report.txt", 64, "", "kestrin: encrypt needs a method, not auto\n*", {}, {"report._xt"}},
    {"$K verify --quiet=yes --password-file pw des._xt", 64, "", "kestrin: --quiet takes no value\n*", {}, {}},
    {"$K verify -o d --password-file pw des._xt", 64, "", "kestrin: -o is not an option of verify\n*", {}, {}},
    // help and version wherever they are asked for
    {"$K help nonsense", 64, "", "kestrin: help: no such command: nonsense (encrypt, decrypt, verify or info)\n*", {}, {}},
    {"$K encrypt --version", 0, "kestrin *", "", {}, {}},
    {"$K verify report.txt -? --bogus", 0, "usage: kestrin verify [OPTIONS] FILE...\n*", "", {}, {}},
    {"$K -?", 0, "usage: kestrin encrypt *", "", {}, {}},
    // completion: containers first, exported variables only, - for -o
    {". ./comp.sh; cd comp && comp kestrin decrypt ''", 0, "a._xt sub \n", "", {}, {}},
    {". ./comp.sh; cd comp && comp kestrin verify b", 0, "b.txt \n", "", {}, {}},
    {". ./comp.sh; cd comp && comp kestrin encrypt -o ''", 0, "- a._xt b.txt sub \n", "", {}, {}},
    {". ./comp.sh; export KSTN_SET=1; KSTN_UNSET=1; comp kestrin info --password-env KSTN_", 0, "KSTN_SET \n", "", {}, {}},
    {". ./comp.sh; comp kestrin verify --out", 0, " \n", "", {}, {}},
    {". ./comp.sh; comp kestrin info --re", 0, "--recursive \n", "", {}, {}},
};

TEST_F(Cli, Session)
{
    const std::pair<const char*, const char*> kMade[] = {
        {"sapphire", "sap"}, {"des", "des"}, {"des-cbc", "cbc"}, {"blowfish", "bf"}, {"aes", "aes"}};
    for (const auto& made : kMade) {
        ASSERT_EQ(Kestrin(std::string("encrypt -m ") + made.first + " --password-file pw report.txt").nExit, 0);
        fs::rename(m_dir / "report._xt", m_dir / (std::string(made.second) + "._xt"));
    }
    fs::create_directories(m_dir / "out");
    fs::create_directories(m_dir / "tree" / "sub");
    Spit(m_dir / "tree" / "a.txt", "a");
    Spit(m_dir / "tree" / "sub" / "b.dat", "b");
    fs::create_directory_symlink("..", m_dir / "tree" / "sub" / "loop");
    fs::create_directories(m_dir / "comp" / "sub");
    Spit(m_dir / "comp" / "a._xt", "");
    Spit(m_dir / "comp" / "b.txt", "");
    setenv("K", KESTRIN_CLI, 1);
    setenv("AS_USER", getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "", 1);

    for (const SessionLine& line : kSession) {
        SCOPED_TRACE(line.pszCommand);
        const std::string strCmd = "cd '" + m_dir.string() + "' && setsid -w bash -c '" + Quoted(line.pszCommand) +
                                   "' </dev/null >.stdout 2>.stderr";
        const int nStatus = std::system(strCmd.c_str());
        EXPECT_EQ(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, line.nExit);
        ExpectText(Slurp(m_dir / ".stdout"), line.pszOut);
        ExpectText(Slurp(m_dir / ".stderr"), line.pszErr);
        for (const char* pszFile : line.made)
            EXPECT_TRUE(fs::exists(m_dir / pszFile)) << pszFile;
        for (const char* pszFile : line.absent)
            EXPECT_FALSE(fs::exists(m_dir / pszFile)) << pszFile;
    }
}

TEST_F(Cli, HelpForEveryCommand)
{
    for (const char* pszCommand : {"encrypt", "decrypt", "verify", "info"}) {
        SCOPED_TRACE(pszCommand);
        ToolRun help = Kestrin(std::string("help ") + pszCommand);
        EXPECT_EQ(help.nExit, 0);
        EXPECT_EQ(help.strOut.rfind(std::string("usage: kestrin ") + pszCommand + " [OPTIONS] FILE...\n", 0), 0u);
        for (const char* pszPart : {"--password-fd N", "--option=value", "\nExamples:\n  kestrin ", "  64 ", "128+N"})
            EXPECT_NE(help.strOut.find(pszPart), std::string::npos) << pszPart;
        ToolRun dashed = Kestrin(std::string(pszCommand) + " --help");
        EXPECT_EQ(dashed.nExit, 0);
        EXPECT_EQ(dashed.strOut, help.strOut);
    }
    ToolRun overview = Kestrin("help");
    EXPECT_EQ(overview.nExit, 0);
    EXPECT_NE(overview.strOut.find("  info "), std::string::npos);
    EXPECT_EQ(Kestrin("help frobnicate").nExit, 64);
}

// kill -9 leaves at most a temporary file, which is no container; SIGHUP
// cancels and cleans up like SIGINT. At two points of either direction.
TEST_F(Cli, KilledOrHungUpNothingAppearsUnderAFinalName)
{
    const std::string strBig = Noise(40000000);
    Spit(m_dir / "huge.bin", strBig);
    ASSERT_EQ(Kestrin("encrypt -q -m des --password-file pw huge.bin").nExit, 0);
    fs::create_directories(m_dir / "box");
    fs::rename(m_dir / "huge._in", m_dir / "box" / "huge._in");
    const struct {
        const char* pszSignal;
        const char* pszArgs;
        const char* pszFinal;
        uintmax_t nGrownTo;  // bytes in the temporary file before the signal
    } kCases[] = {
        {"KILL", "encrypt -m des --password-file pw huge.bin", "huge._in", 0},
        {"KILL", "encrypt -m des --password-file pw huge.bin", "huge._in", 2 << 20},
        {"HUP", "encrypt -m des --password-file pw huge.bin", "huge._in", 2 << 20},
        {"KILL", "decrypt -m des --password-file pw box/huge._in", "box/huge.bin", 2 << 20},
        {"HUP", "decrypt -m des --password-file pw box/huge._in", "box/huge.bin", 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.pszSignal) + " " + c.pszArgs);
        const fs::path folder = fs::path(m_dir / c.pszFinal).parent_path();
        const std::string strPid = Start(c.pszArgs);
        for (int i = 0; i < 2000 && !TemporaryGrownTo(folder, c.nGrownTo); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (std::system(("kill -" + std::string(c.pszSignal) + " " + strPid + " 2>/dev/null").c_str()) != 0) {
            ADD_FAILURE() << "finished before the signal: use a bigger file";
            continue;
        }
        const int nExit = WaitForExit();
        EXPECT_FALSE(fs::exists(m_dir / c.pszFinal));
        const std::vector<std::string> partials = PartialFiles(folder);
        if (std::string(c.pszSignal) == "HUP") {
            EXPECT_EQ(nExit, 129);
            EXPECT_TRUE(partials.empty());
            EXPECT_NE(Slurp(m_dir / ".stderr").find("its partial output was removed"), std::string::npos);
        } else {
            ASSERT_EQ(partials.size(), 1u);
            const fs::path partial = folder / partials[0];
            EXPECT_NE(Kestrin("verify -m des --password-file pw '" + partial.string() + "'").nExit, 0);
            fs::remove(partial);
        }
    }
}

TEST_F(Cli, PasswordWithANulByteIsRefused)
{
    const std::string strNul("\0abcdefgh\n", 10);
    Spit(m_dir / "nulpw", strNul);
    for (const ToolRun& run : {Kestrin("encrypt --password-file nulpw report.txt"),
                               Kestrin("encrypt --password-stdin report.txt", strNul)}) {
        EXPECT_EQ(run.nExit, 64);
        EXPECT_NE(run.strErr.find("NUL byte"), std::string::npos) << run.strErr;
    }
    EXPECT_FALSE(fs::exists(m_dir / "report._xt"));
}

// A FIFO without a writer once hung the tool beyond SIGTERM.
TEST_F(Cli, SourcesThatAreNoRegularFilesFailAtOnce)
{
    ASSERT_EQ(std::system(("mkfifo '" + (m_dir / "fifo").string() + "'").c_str()), 0);
    for (const char* pszCommand : {"encrypt", "decrypt"}) {
        for (const char* pszSource : {"fifo", "/dev/zero", "."}) {
            ToolRun run = Kestrin("timeout 10 '" KESTRIN_CLI "' " + std::string(pszCommand) +
                                  " --password-file pw " + pszSource, "", false);
            EXPECT_EQ(run.nExit, 1) << pszCommand << " " << pszSource << ": " << run.strErr;
        }
    }
}

// On POSIX only '/' separates: these are names of files in this folder.
TEST_F(Cli, BackslashColonAndTrailingDotAreOrdinaryNames)
{
    fs::create_directories(m_dir / "elsewhere");
    fs::create_directory_symlink(m_dir / "elsewhere", m_dir / "k");
    const struct {
        const char* pszName;
        const char* pszContainer;
        const char* pszNote;
    } kCases[] = {
        {"a\\b.txt", "a\\b._xt", ""},
        {"k\\photo.txt", "k\\photo._xt", ""},
        {"f\\..\\x.txt", "f\\..\\x._xt", ""},
        {"meeting 12:30.txt", "meeting 12:30._xt", ""},
        {"notes.", "notes1.", " (notes. was taken)"},  // the proposal is the source itself, so it is numbered
    };
    fs::create_directories(m_dir / "out");
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        Spit(m_dir / c.pszName, c.pszName);
        ToolRun run = Kestrin("encrypt -m sapphire --password-file pw '" + std::string(c.pszName) + "'");
        ASSERT_EQ(run.nExit, 0) << run.strErr;
        EXPECT_EQ(run.strOut, std::string(c.pszName) + " -> ./" + c.pszContainer + c.pszNote + "\n");
        fs::rename(m_dir / c.pszContainer, m_dir / "out" / c.pszContainer);
        run = Kestrin("decrypt --password-file pw 'out/" + std::string(c.pszContainer) + "'");
        ASSERT_EQ(run.nExit, 0) << run.strErr;
        EXPECT_EQ(Slurp(m_dir / "out" / c.pszName), c.pszName);
    }
    EXPECT_TRUE(fs::is_empty(m_dir / "elsewhere"));
}

TEST_F(Cli, DamageAfterTheFirstBlockKeepsTheRestoredPartAndSaysSo)
{
    ASSERT_EQ(Kestrin("encrypt -m sapphire --password-file pw report.txt").nExit, 0);
    std::string strBox = Slurp(m_dir / "report._xt");
    strBox[strBox.size() - 20] ^= 0x55;
    fs::create_directories(m_dir / "out");
    Spit(m_dir / "out" / "report._xt", strBox);
    ToolRun run = Kestrin("decrypt --password-file pw out/report._xt");
    EXPECT_NE(run.nExit, 0);
    EXPECT_NE(run.strErr.find("out/report._xt was only partly restored, up to the damage: out/report.txt"),
              std::string::npos) << run.strErr;
    const std::string strRestored = Slurp(m_dir / "out" / "report.txt");
    EXPECT_GT(strRestored.size(), 0u);
    EXPECT_EQ(strRestored, Text(30000).substr(0, strRestored.size()));
}

// Ctrl-C at the password prompt gives the terminal its echo back.
TEST_F(Cli, InterruptAtThePromptRestoresEcho)
{
    const std::string strCmd = "cd '" + m_dir.string() + "' && script -qec \"timeout --foreground -s INT 1 '" KESTRIN_CLI
                               "' encrypt report.txt; stty -a\" /dev/null </dev/null >.tty 2>&1";
    if (std::system(strCmd.c_str()) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    const std::string strTty = Slurp(m_dir / ".tty");
    EXPECT_NE(strTty.find("Password:"), std::string::npos) << strTty;
    EXPECT_NE(strTty.find(" echo "), std::string::npos) << strTty;
    EXPECT_EQ(strTty.find("-echo "), std::string::npos) << strTty;
}

}  // namespace

// What --help says is what the manual page, cli/README.md, README.md and the
// completion say: each command's options, the synopsis and the exit statuses.
class Documents : public Cli {
protected:
    static std::string Squeezed(std::string s)
    {
        s = std::regex_replace(s, std::regex(R"(\\-)"), "-");
        s = std::regex_replace(s, std::regex(R"(\s+)"), " ");
        return std::regex_replace(s, std::regex(R"(^ | $)"), "");
    }
    static std::string Source(const char* pszFile) { return Slurp(fs::path(KESTRIN_SOURCE_DIR) / pszFile); }
    static std::vector<std::string> Lines(const std::string& s)
    {
        std::vector<std::string> lines;
        std::istringstream in(s);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    // Rows of code and words, then the note below them (code "").
    using Table = std::vector<std::pair<std::string, std::string>>;
    static void Add(Table& table, const std::string& strCode, const std::string& strWords)
    {
        if (!table.empty() && table.back().first == strCode)
            table.back().second = Squeezed(table.back().second + " " + strWords);
        else
            table.push_back({strCode, Squeezed(strWords)});
    }
};

const char* const kCommandNames[] = {"encrypt", "decrypt", "verify", "info"};

TEST_F(Documents, OptionsAgree)
{
    // The manual page: .SS "Options of every command", "Options of encrypt and decrypt", ...
    std::map<std::string, std::set<std::string>> man;
    std::vector<std::string> commands;
    bool bOptions = false, bTag = false;
    for (const std::string& line : Lines(Source("cli/kestrin.1"))) {
        if (line.rfind(".SH ", 0) == 0)
            bOptions = line == ".SH OPTIONS";
        if (!bOptions)
            continue;
        if (line.rfind(".SS ", 0) == 0) {
            commands.clear();
            for (const char* psz : kCommandNames)
                if (line.rfind(".SS Options of ", 0) == 0 &&
                    (line.find("every command") != std::string::npos || line.find(psz) != std::string::npos))
                    commands.push_back(psz);
        }
        std::smatch m;
        if (bTag && std::regex_search(line, m, std::regex(R"(\\-\\-((?:[a-z]|\\-)+))")))
            for (const std::string& c : commands)
                man[c].insert(std::regex_replace(std::string(m[1]), std::regex(R"(\\-)"), "-"));
        bTag = line == ".TP";
    }
    for (const char* pszCommand : kCommandNames) {
        SCOPED_TRACE(pszCommand);
        std::set<std::string> help;
        bool bIn = false;
        for (const std::string& line : Lines(Kestrin(std::string("help ") + pszCommand).strOut)) {
            bIn = line == "Options:" || (bIn && line.rfind("  ", 0) == 0);
            std::smatch m;
            if (bIn && std::regex_search(line, m, std::regex(R"(^  (?:-[A-Za-z?],|   ) --([a-z-]+))")))
                help.insert(m[1]);
        }
        EXPECT_GE(help.size(), 10u);
        EXPECT_EQ(help, man[pszCommand]) << "the manual page's OPTIONS";
        const ToolRun completion = Kestrin("bash -c '. ./comp.sh; comp kestrin " + std::string(pszCommand) + " --'", "", false);
        std::set<std::string> offered;
        std::istringstream words(completion.strOut);
        for (std::string w; words >> w;)
            offered.insert(w.substr(2));
        EXPECT_EQ(help, offered) << "the completion";
    }
}

TEST_F(Documents, SynopsisAndExitStatusesAgree)
{
    const std::string strHelp = Kestrin("help").strOut;
    for (const char* pszCommand : kCommandNames) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(strHelp, m, std::regex(std::string("kestrin ") + pszCommand + " +\\[.*")));
        const std::string strLine = Squeezed(m[0]);
        for (const char* pszFile : {"cli/README.md", "README.md"})
            EXPECT_NE(Squeezed(Source(pszFile)).find(strLine), std::string::npos) << pszFile << ": " << strLine;
    }

    Table help, man, readme;
    std::string strCode;
    bool bIn = false;
    for (const std::string& line : Lines(strHelp)) {
        bIn = bIn || line == "Exit status:";
        std::smatch m;
        if (!bIn || line == "Exit status:")
            continue;
        if (std::regex_match(line, m, std::regex(R"(  (\S+)  +(.*))")))
            strCode = m[1];
        else if (line.rfind(" ", 0) != 0)
            strCode = "";
        Add(help, strCode, m.size() > 2 ? std::string(m[2]) : line);
    }
    bIn = false;
    for (const std::string& line : Lines(Source("cli/kestrin.1"))) {
        if (line.rfind(".SH ", 0) == 0)
            bIn = line == ".SH EXIT STATUS";
        if (!bIn || line == ".TP" || line.rfind(".SH", 0) == 0)
            continue;
        if (line.rfind(".B ", 0) == 0)
            strCode = line.substr(3);
        else if (line == ".PP")
            strCode = "";
        else
            Add(man, strCode, line);
    }
    bIn = false;
    for (const std::string& line : Lines(Source("cli/README.md"))) {
        if (line.rfind("## ", 0) == 0)
            bIn = line == "## Exit status";
        std::smatch m;
        if (!bIn || line.empty() || line.rfind("##", 0) == 0 || line.rfind("|---", 0) == 0 || line == "| status | meaning |")
            continue;
        if (std::regex_match(line, m, std::regex(R"(\| (\S+) \| (.*) \|)")))
            Add(readme, m[1], m[2]);
        else
            Add(readme, "", line);
    }
    EXPECT_EQ(help.size(), 12u);  // 0 to 8, 64, 128+N and the note below
    EXPECT_EQ(help, man) << "the manual page";
    EXPECT_EQ(help, readme) << "cli/README.md";
}
