// The selection a handler keeps after Initialize, read from the handler
// itself (built into this program rather than loaded from Kestrin.dll).
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "shellext/Module.h"
#include "shellext/ShellExt.h"

LONG g_nObjects = 0;

namespace {
class Selection : public testing::Test {
protected:
    void SetUp() override
    {
        m_pExt = new CShellExt;
        m_pExt->AddRef();
    }
    void TearDown() override { m_pExt->Release(); }

    HRESULT Init(IDataObject* pdo) { return static_cast<IShellExtInit*>(m_pExt)->Initialize(nullptr, pdo, nullptr); }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < m_pExt->GetFiles().GetSize(); ++i)
            out.push_back(m_pExt->GetFiles()[i].GetString());
        return out;
    }

    CShellExt* m_pExt = nullptr;
};
}  // namespace

TEST_F(Selection, ThreeFilesFromTheShellInDropOrder)
{
    const std::string dir = ScratchDir();
    const std::vector<std::string> picked = {MakeFile(dir + "\\files-c.txt"), MakeFile(dir + "\\files-a.txt"),
                                             MakeFile(dir + "\\files-b.txt")};
    CComRef<IDataObject> shell;
    ASSERT_EQ(ShellDataObject(picked, shell.Receive()), S_OK);
    ASSERT_EQ(Init(shell.get()), S_OK);
    std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_STRCASEEQ(files[i].c_str(), picked[i].c_str());
}

TEST_F(Selection, FoldersAreListedToo)
{
    const std::string dir = ScratchDir();
    std::string sub = dir + "\\files-folder";
    CreateDirectoryA(sub.c_str(), nullptr);
    const std::vector<std::string> picked = {MakeFile(dir + "\\files-d.txt"), sub};
    CComRef<IDataObject> shell;
    ASSERT_EQ(ShellDataObject(picked, shell.Receive()), S_OK);
    ASSERT_EQ(Init(shell.get()), S_OK);
    std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_STRCASEEQ(files[1].c_str(), sub.c_str());
}

// A path cut at 259 characters could name another, existing file.
TEST_F(Selection, LongPathsAreKeptWhole)
{
    std::string deep = "C:\\" + std::string(150, 'a') + "\\" + std::string(150, 'b') + ".txt";
    CTestDataObject drop({"C:\\short.txt", deep});
    ASSERT_EQ(Init(&drop), S_OK);
    std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], "C:\\short.txt");
    EXPECT_EQ(files[1], deep);
}

TEST_F(Selection, NextInitializeReplacesTheList)
{
    CTestDataObject three({"C:\\1.txt", "C:\\2.txt", "C:\\3.txt"});
    CTestDataObject one({"C:\\4.txt"});
    ASSERT_EQ(Init(&three), S_OK);
    ASSERT_EQ(Init(&one), S_OK);
    EXPECT_EQ(Files(), std::vector<std::string>{"C:\\4.txt"});
}

TEST_F(Selection, DataObjectWithoutFileListEmptiesTheList)
{
    CTestDataObject three({"C:\\1.txt", "C:\\2.txt", "C:\\3.txt"});
    CTestDataObject none;
    ASSERT_EQ(Init(&three), S_OK);
    EXPECT_EQ(Init(&none), E_FAIL);
    EXPECT_TRUE(Files().empty());
}

TEST_F(Selection, MissingDataObjectKeepsTheList)
{
    CTestDataObject two({"C:\\1.txt", "C:\\2.txt"});
    ASSERT_EQ(Init(&two), S_OK);
    EXPECT_EQ(Init(nullptr), E_FAIL);
    EXPECT_EQ(two.Held(), 0);
    EXPECT_EQ(Files().size(), 2u);
}
