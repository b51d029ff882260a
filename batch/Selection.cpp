#include "batch/Selection.h"

#include <algorithm>
#include <vector>

#include "base/FileStreams.h"
#include "base/PathUtils.h"
#include "base/ResultCodes.h"
#include "container/FormatV1.h"
#include "container/Sniff.h"
#include "framework/afxconv.h"
#include "framework/afxfile.h"

namespace {

// Encrypting takes what is not a container yet, decrypting the containers.
// Only a file long enough for a magic is opened to be told apart.
bool Wanted(const CString& strPath, uint64_t nSize, bool bEncrypt)
{
    if (nSize < sizeof kContainerMagic)
        return bEncrypt;
    const CSniff sniff = SniffContainer(strPath);
    if (sniff.nVersion != 0)
        return !bEncrypt;
    if (sniff.nResult == WR_BAD_FORMAT)
        return bEncrypt;
    return true;  // could not be read: its failure is reported, never skipped in silence
}

bool IsDots(const wchar_t* pszName)
{
    return pszName[0] == L'.' && (pszName[1] == 0 || (pszName[1] == L'.' && pszName[2] == 0));
}

// The files below strRoot, without recursion: a tree may be deeper than the
// shell thread's stack allows.
bool WalkFolder(const CString& strRoot, bool bEncrypt, const std::function<bool()>& keepGoing,
                std::vector<CString>& found)
{
    std::vector<CString> pending{strRoot};
    while (!pending.empty()) {
        const CString strFolder = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW fd;
        HANDLE hFind = ::FindFirstFileExW(Win32Path(strFolder + "\\*").c_str(), FindExInfoBasic, &fd,
                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (hFind == INVALID_HANDLE_VALUE) {
            // A folder that cannot be listed is taken as an entry of its
            // own: its failure is reported, not skipped in silence. (An
            // empty drive has nothing to list, not even "." and "..".)
            const DWORD dwError = ::GetLastError();
            if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_NO_MORE_FILES)
                found.push_back(strFolder);
            continue;
        }
        do {
            if (IsDots(fd.cFileName))
                continue;
            const CString strName = WideToUtf8(fd.cFileName);
            const CString strPath = JoinPath(strFolder, strName);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link to a folder or a junction leads out of the tree, or
                // back into it: never followed.
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    pending.push_back(strPath);
            } else if (!IsTemporaryName(strName) &&
                       Wanted(strPath, (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow, bEncrypt)) {
                found.push_back(strPath);
            }
            if (!keepGoing()) {
                ::FindClose(hFind);
                return false;
            }
        } while (::FindNextFileW(hFind, &fd));
        ::FindClose(hFind);
    }
    return true;
}

}  // namespace

bool ExpandSelection(CStringArray& files, bool bEncrypt, const std::function<bool()>& keepGoing)
{
    std::vector<CString> found;
    for (int i = 0; i < files.GetSize(); ++i) {
        if (AfxGetFileKind(files[i]) != FileKind::kDirectory)
            continue;
        // "D:\" and "D:\Docs\" join their names without a second separator.
        CString strFolder = files[i];
        while (!strFolder.IsEmpty() && (strFolder.Right(1) == "\\" || strFolder.Right(1) == "/"))
            strFolder = strFolder.Left(strFolder.GetLength() - 1);
        files[i].Empty();
        if (!WalkFolder(strFolder, bEncrypt, keepGoing, found))
            return false;
    }
    for (const CString& strPath : found)
        files.Add(strPath);
    CString* first = files.GetData();
    std::sort(first, first + files.GetSize(), [](const CString& a, const CString& b) { return a.Compare(b) > 0; });
    // A search's results may hold a folder and files inside it: each file
    // once, or the second time round it would get a numbered twin.
    int n = int(std::unique(first, first + files.GetSize()) - first);
    while (n > 0 && files[n - 1].IsEmpty())
        --n;
    files.SetSize(n);
    return true;
}
