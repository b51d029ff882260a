// The application object and the framework's message box.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "framework/afxapp.h"

TEST(AppTitle, ModuleNameWithoutExtensionWhenThereIsNoApp)
{
    ASSERT_EQ(AfxGetApp(), nullptr);
    EXPECT_STREQ(AfxGetAppTitle(), "test_support");
}

TEST(AppTitle, ComesFromTheAppObject)
{
    {
        CWinApp app("Named");
        EXPECT_EQ(AfxGetApp(), &app);
        EXPECT_STREQ(AfxGetAppTitle(), "Named");
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
    {
        CWinApp app;
        EXPECT_TRUE(app.InitInstance());
        EXPECT_STREQ(app.m_pszAppName, "test_support");
        EXPECT_EQ(app.ExitInstance(), 0);
    }
}

TEST(AfxMessageBox, CaptionIconAndAnswer)
{
    struct Row {
        UINT type;
        int button;
        LPCSTR icon;
    };
    const Row rows[] = {
        {MB_OK, IDOK, IDI_EXCLAMATION},
        {MB_OKCANCEL, IDCANCEL, IDI_EXCLAMATION},
        {MB_OKCANCEL, IDOK, IDI_EXCLAMATION},
        {MB_OK | MB_ICONINFORMATION, IDOK, IDI_INFORMATION},
    };
    CWinApp app("Kestrin");
    for (const Row& r : rows) {
        int answer = 0;
        CBoxSeen box = AnswerMessageBox([&] { answer = AfxMessageBox("Kestrin : Error 9", r.type); }, r.button);
        ASSERT_TRUE(box.bFound);
        EXPECT_EQ(answer, r.button);
        EXPECT_EQ(box.caption, "Kestrin");
        EXPECT_EQ(box.text, "Kestrin : Error 9");
        EXPECT_EQ(box.hIcon, LoadIconA(nullptr, r.icon));
    }
}
