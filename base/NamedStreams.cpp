#include "base/NamedStreams.h"

#ifdef _WIN32
#include <mutex>
#include <vector>

#include "base/PathUtils.h"
#include "framework/afxconv.h"
#include "framework/afxdefs.h"
#endif

const char kDownloadMarkStream[] = "Zone.Identifier";

namespace {

// A mark is a few lines of text; one larger than this is not copied byte
// for byte.
const size_t kMarkLimit = 64 * 1024;
const char kInternetZoneMark[] = "[ZoneTransfer]\r\nZoneId=3\r\n";

#ifdef _WIN32

bool VolumeHasNamedStreams(const CString& strPath)
{
    const std::wstring path = Win32Path(strPath);
    std::vector<wchar_t> root(path.size() + 2);
    DWORD dwFlags = 0;
    return ::GetVolumePathNameW(path.c_str(), root.data(), DWORD(root.size())) &&
           ::GetVolumeInformationW(root.data(), nullptr, 0, nullptr, nullptr, &dwFlags, nullptr, 0) &&
           (dwFlags & FILE_NAMED_STREAMS) != 0;
}

// Wine answers a "file:stream" name with a file of that name beside the
// file (and a name that is not there by reading the whole folder): only a
// volume that says it has named streams is asked for them. A batch works in
// few folders (a source's and an output's), so their answers are kept.
bool HasNamedStreams(const CString& strPath)
{
    struct CAnswer {
        CString strFolder;
        bool bStreams;
    };
    const size_t kKept = 4;
    static std::mutex s_mutex;
    static std::vector<CAnswer> s_answers;  // the latest last
    const CString strFolder = GetDirectoryPart(strPath);
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        for (const CAnswer& answer : s_answers) {
            if (answer.strFolder == strFolder)
                return answer.bStreams;
        }
    }
    const bool bStreams = VolumeHasNamedStreams(strPath);
    std::lock_guard<std::mutex> lock(s_mutex);
    if (s_answers.size() == kKept)
        s_answers.erase(s_answers.begin());
    s_answers.push_back({strFolder, bStreams});
    return bStreams;
}

std::wstring StreamPath(const CString& strPath, const char* pszStream)
{
    return Win32Path(strPath + ":" + pszStream);
}

class CHandle {
public:
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_h);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

class CSystemNamedStreams : public CNamedStreams {
public:
    ReadResult Read(const CString& strPath, const char* pszStream, size_t nLimit, std::string& data) override
    {
        data.clear();
        if (!HasNamedStreams(strPath))
            return kNone;
        CHandle file(::CreateFileW(StreamPath(strPath, pszStream).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            const DWORD dwError = ::GetLastError();
            return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? kNone : kFailed;
        }
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0)
            return kFailed;
        if (uint64_t(size.QuadPart) > nLimit)
            return kTooLarge;
        data.resize(size_t(size.QuadPart));
        DWORD dwRead = 0;
        if (!data.empty() && (!::ReadFile(file.Get(), &data[0], DWORD(data.size()), &dwRead, nullptr) ||
                              dwRead != data.size()))
            return kFailed;
        return kRead;
    }

    bool Write(const CString& strPath, const char* pszStream, const std::string& data) override
    {
        if (!HasNamedStreams(strPath))
            return false;
        CHandle file(::CreateFileW(StreamPath(strPath, pszStream).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid())
            return false;
        DWORD dwWritten = 0;
        return (data.empty() || (::WriteFile(file.Get(), data.data(), DWORD(data.size()), &dwWritten, nullptr) &&
                                 dwWritten == data.size())) &&
               ::FlushFileBuffers(file.Get());
    }
};

#else

// POSIX file systems have extended attributes, not named streams, and
// nothing on them reads a download mark.
class CSystemNamedStreams : public CNamedStreams {
public:
    ReadResult Read(const CString&, const char*, size_t, std::string& data) override
    {
        data.clear();
        return kNone;
    }
    bool Write(const CString&, const char*, const std::string&) override { return false; }
};

#endif

}  // namespace

CNamedStreams& SystemNamedStreams()
{
    static CSystemNamedStreams s_streams;
    return s_streams;
}

MarkCarried CarryDownloadMark(CNamedStreams& streams, const CString& strFrom, const CString& strTo)
{
    std::string mark;
    switch (streams.Read(strFrom, kDownloadMarkStream, kMarkLimit, mark)) {
    case CNamedStreams::kRead:
        break;
    case CNamedStreams::kNone:
        return MarkCarried::kNoMark;
    default:  // there, but not to be copied: still marked
        mark = kInternetZoneMark;
        break;
    }
    return streams.Write(strTo, kDownloadMarkStream, mark) ? MarkCarried::kMarked : MarkCarried::kNotWritten;
}
