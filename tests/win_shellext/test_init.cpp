// IShellExtInit::Initialize through COM, with the data object Wine's shell
// builds for a selection and with data objects that count their references.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "TestSupport.h"
#include "shellext/ShellExtGuid.h"

namespace {
class Initialize : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                   m_init.ReceiveVoid()),
                  S_OK);
    }
    CComRef<IShellExtInit> m_init;
};

std::vector<std::string> ThreeFiles()
{
    const std::string dir = ScratchDir();
    return {MakeFile(dir + "\\init-c.txt"), MakeFile(dir + "\\init-a.txt"), MakeFile(dir + "\\init-b.txt")};
}
}  // namespace

TEST_F(Initialize, TakesTheShellsDataObject)
{
    CComRef<IDataObject> shell;
    ASSERT_EQ(ShellDataObject(ThreeFiles(), shell.Receive()), S_OK);
    CTestDataObject counted({}, shell.get());
    EXPECT_EQ(m_init->Initialize(nullptr, &counted, nullptr), S_OK);
    EXPECT_EQ(counted.Held(), 1);
    m_init.Reset();
    EXPECT_EQ(counted.Held(), 0);
}

TEST_F(Initialize, SecondCallReleasesTheFirstObjectOnce)
{
    CTestDataObject first({"C:\\one.txt"});
    CTestDataObject second({"C:\\two.txt"});
    EXPECT_EQ(m_init->Initialize(nullptr, &first, nullptr), S_OK);
    EXPECT_EQ(first.m_nAddRef, 1);
    EXPECT_EQ(first.m_nRelease, 0);
    EXPECT_EQ(m_init->Initialize(nullptr, &second, nullptr), S_OK);
    EXPECT_EQ(first.m_nAddRef, 1);
    EXPECT_EQ(first.m_nRelease, 1);
    EXPECT_EQ(second.Held(), 1);
    m_init.Reset();
    EXPECT_EQ(second.m_nAddRef, 1);
    EXPECT_EQ(second.m_nRelease, 1);
    EXPECT_EQ(first.m_nRelease, 1);
}

// Were the old reference dropped first, an object only the handler holds
// would be destroyed before it is taken again.
TEST_F(Initialize, SameObjectAgainIsNeverLetGo)
{
    CTestDataObject same({"C:\\one.txt"});
    EXPECT_EQ(m_init->Initialize(nullptr, &same, nullptr), S_OK);
    EXPECT_EQ(m_init->Initialize(nullptr, &same, nullptr), S_OK);
    EXPECT_EQ(same.Held(), 1);
    EXPECT_EQ(same.m_nDroppedToZero, 0);
    m_init.Reset();
    EXPECT_EQ(same.Held(), 0);
    EXPECT_EQ(same.m_nDroppedToZero, 1);
}

TEST_F(Initialize, WithoutDataObjectFailsAndLetsThePreviousGo)
{
    CTestDataObject first({"C:\\one.txt"});
    EXPECT_EQ(m_init->Initialize(nullptr, &first, nullptr), S_OK);
    EXPECT_EQ(m_init->Initialize(nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(first.Held(), 0);
    m_init.Reset();
    EXPECT_EQ(first.Held(), 0);
}

TEST_F(Initialize, DataObjectWithoutFileListFails)
{
    CTestDataObject empty;
    EXPECT_EQ(m_init->Initialize(nullptr, &empty, nullptr), E_FAIL);
    EXPECT_EQ(empty.Held(), 1);  // kept until the next Initialize or the end
    m_init.Reset();
    EXPECT_EQ(empty.Held(), 0);
}
