#include <gtest/gtest.h>

#include "framework/afxstr.h"

TEST(CString, CompareIsBytewiseUnsigned)
{
    struct { const char* a; const char* b; int sign; } rows[] = {
        {"D:\\b.txt", "D:\\a.txt", 1},
        {"D:\\a.txt", "D:\\B.txt", 1},   // lower case sorts above capitals
        {"abc", "ab", 1},                // the longer of a prefix pair is greater
        {"", "", 0},
        {"\xe9", "z", 1},                // bytes above 0x7f are not negative
    };
    for (const auto& r : rows) {
        int c = CString(r.a).Compare(r.b);
        EXPECT_EQ((c > 0) - (c < 0), r.sign) << r.a << " vs " << r.b;
    }
}

TEST(CString, SplittingHelpers)
{
    CString s("D:\\docs\\a.b.c");
    EXPECT_EQ(s.ReverseFind('.'), 11);
    EXPECT_EQ(s.ReverseFind('/'), -1);
    EXPECT_EQ(s.Left(2), "D:");
    EXPECT_EQ(s.Mid(8), "a.b.c");
    EXPECT_EQ(s.Mid(8, 1), "a");
    EXPECT_EQ(s.Right(1), "c");
    EXPECT_EQ(s.Left(99), s);
    EXPECT_EQ(s.Mid(99), "");
    CString t("name \t\r\n");
    EXPECT_EQ(t.TrimRight(), "name");
}

TEST(CString, FormatGrowsAsNeeded)
{
    CString s;
    s.Format("Processing file %d of %d", 3, 12);
    EXPECT_EQ(s, "Processing file 3 of 12");
    CString big;
    big.Format("%s%s", std::string(5000, 'x').c_str(), "y");
    EXPECT_EQ(big.GetLength(), 5001);
}

TEST(CString, SecureEmptyClearsText)
{
    CString pw("secret");
    pw.SecureEmpty();
    EXPECT_TRUE(pw.IsEmpty());
}

TEST(CStringArray, SizeSetAndRemove)
{
    CStringArray a;
    a.SetSize(3);
    a[1] = "x";
    EXPECT_EQ(a.GetSize(), 3);
    EXPECT_TRUE(a[0].IsEmpty());
    a.RemoveAt(0);
    EXPECT_EQ(a[0], "x");
    a.Add("y");
    EXPECT_EQ(a.GetUpperBound(), 2);
}
