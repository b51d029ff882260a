// The kestrin tool as a user runs it: outputs, messages, exit codes.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Runs the tool in the scratch folder; stdin from /dev/null unless given.
    ToolRun Kestrin(const std::string& strArgs, const std::string& strStdin = "")
    {
        std::string strIn = "/dev/null";
        if (!strStdin.empty()) {
            Spit(m_dir / ".stdin", strStdin);
            strIn = ".stdin";
        }
        const std::string strCmd = "cd '" + m_dir.string() + "' && '" KESTRIN_CLI "' " + strArgs + " <" + strIn +
                                   " >.stdout 2>.stderr";
        const int nStatus = std::system(strCmd.c_str());
        ToolRun run{WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, Slurp(m_dir / ".stdout"), Slurp(m_dir / ".stderr")};
        for (const char* psz : {".stdin", ".stdout", ".stderr"})
            fs::remove(m_dir / psz);
        return run;
    }

    // The temporary outputs in the scratch folder.
    std::vector<std::string> PartialFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
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
        EXPECT_EQ(enc.strErr, "");
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
    EXPECT_EQ(Kestrin("verify --password-file pw report._xt").strOut, "report._xt: OK\n");
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
    ToolRun run = Kestrin("encrypt --password-file pw report.txt");
    EXPECT_EQ(run.strOut, "report.txt -> ./report1._xt\n");
    EXPECT_EQ(Slurp(m_dir / "report._xt"), "mine");
    run = Kestrin("decrypt --password-file pw report1._xt");
    EXPECT_EQ(run.strOut, "report1._xt -> ./report1.txt\n");
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
              "Kestrin was unable to decrypt the file : report._xt.\nThe file format is not recognized.\n"
              "Kestrin was unable to read the file : missing._xt.\n"
              "Kestrin was unable to process the file : plain.txt.\nThe file format is not recognized.\n");

    run = Kestrin("decrypt --password-file pw missing._xt report._xt");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.strOut, "report._xt -> ./report1.txt\n");  // goes on after a failure
}

// The authenticated container is found by its magic and names its failures.
TEST_F(Cli, AuthenticatedContainersSayWhatFailed)
{
    ASSERT_EQ(Kestrin("encrypt --password-file pw report.txt").nExit, 0);
    EXPECT_EQ(Slurp(m_dir / "report._xt").substr(0, 4), "VXJ2");
    Spit(m_dir / "bad", "wrong horse\n");
    ToolRun run = Kestrin("verify -m des --password-file bad report._xt");
    EXPECT_EQ(run.nExit, 5);
    EXPECT_NE(run.strErr.find("report._xt: wrong password\n"), std::string::npos) << run.strErr;

    std::string box = Slurp(m_dir / "report._xt");
    box[box.size() - 20] ^= 1;
    Spit(m_dir / "cut._xt", box);
    run = Kestrin("decrypt --password-file pw cut._xt");
    EXPECT_EQ(run.nExit, 6);
    EXPECT_NE(run.strErr.find("cut._xt: damaged at record "), std::string::npos) << run.strErr;
    EXPECT_FALSE(fs::exists(m_dir / "report1.txt"));
    EXPECT_EQ(Kestrin("decrypt -m blowfish --password-file pw report._xt").strOut, "report._xt -> ./report1.txt\n");
}

TEST_F(Cli, FoldersInTheWayAreNumberedPast)
{
    ASSERT_EQ(Kestrin("encrypt --password-file pw report.txt").nExit, 0);
    fs::create_directories(m_dir / "ro");
    fs::rename(m_dir / "report._xt", m_dir / "ro" / "report._xt");
    fs::remove(m_dir / "report.txt");
    fs::create_directory(m_dir / "ro" / "report.txt");  // taken by a folder
    fs::create_directory(m_dir / "ro" / "report1.txt");
    ToolRun run = Kestrin("decrypt --password-file pw ro/report._xt");
    EXPECT_EQ(run.nExit, 0) << "numbered past the folders: " << run.strErr;
    EXPECT_EQ(run.strOut, "ro/report._xt -> ro/report2.txt\n");
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
    ASSERT_EQ(Kestrin("encrypt --password-stdin report.txt", "open sesame\r\nsecond line\n").nExit, 0);
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
    EXPECT_NE(Kestrin("encrypt --password-file short report.txt").strErr.find(
                  "You must choose a password that is at least 4 characters long."),
              std::string::npos);
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
    ToolRun run = Kestrin("encrypt report.txt --password-file pw -q -- -dash.txt");
    EXPECT_EQ(run.nExit, 0) << run.strErr;
    EXPECT_EQ(run.strOut, "report.txt -> ./report._xt\n-dash.txt -> ./-dash._xt\n");
}

// On a terminal the tool shows a progress line; -q and a pipe do not.
TEST_F(Cli, ProgressOnlyOnATerminal)
{
    std::string strBig;
    for (int i = 0; i < 3000000; ++i)
        strBig += char((i * 2654435761u) >> 11);
    Spit(m_dir / "big.bin", strBig);
    auto onTerminal = [&](const std::string& strArgs) {
        const std::string strCmd = "cd '" + m_dir.string() + "' && script -qec \"'" KESTRIN_CLI "' " + strArgs +
                                   "\" /dev/null </dev/null >.tty 2>&1";
        int nStatus = std::system(strCmd.c_str());
        std::string strTty = Slurp(m_dir / ".tty");
        fs::remove(m_dir / ".tty");
        return std::make_pair(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, strTty);
    };
    auto shown = onTerminal("encrypt -m des --password-file pw big.bin");
    if (shown.first != 0)
        GTEST_SKIP() << "no pseudo-terminal here: " << shown.second;
    EXPECT_NE(shown.second.find("100%"), std::string::npos) << shown.second;
    EXPECT_NE(shown.second.find("MiB"), std::string::npos);
    auto quiet = onTerminal("encrypt -q -m des --password-file pw big.bin");
    EXPECT_EQ(quiet.second.find('%'), std::string::npos) << quiet.second;
    EXPECT_EQ(Kestrin("encrypt -m des --password-file pw big.bin").strErr, "");
}

// An interrupt becomes a cancel request: the worker stops at its next block
// and the partial container goes.
TEST_F(Cli, InterruptRemovesThePartialOutput)
{
    std::string strBig;
    for (int i = 0; i < 60000000; ++i)
        strBig += char((i * 2654435761u) >> 11);
    Spit(m_dir / "huge.bin", strBig);
    const std::string strCmd = "cd '" + m_dir.string() + "' && { '" KESTRIN_CLI
                               "' encrypt -m des --password-file pw huge.bin >.stdout 2>.stderr & echo $! > .pid; }";
    ASSERT_EQ(std::system(strCmd.c_str()), 0);
    for (int i = 0; i < 500 && PartialFiles().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(PartialFiles().size(), 1u);
    const std::string strPid = Slurp(m_dir / ".pid");
    ASSERT_EQ(std::system(("kill -INT " + strPid).c_str()), 0);
    for (int i = 0; i < 1000 && std::system(("kill -0 " + strPid + " 2>/dev/null").c_str()) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(fs::exists(m_dir / "huge._in"));
    EXPECT_TRUE(PartialFiles().empty());
    EXPECT_NE(Slurp(m_dir / ".stderr").find("interrupted"), std::string::npos);
}

}  // namespace
