#include "cli/Inputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/FileStreams.h"
#include "container/Sniff.h"
#include "framework/afxfile.h"

namespace fs = std::filesystem;

namespace {

std::string JoinOutput(const std::string& strDir, const fs::path& sub)
{
    if (strDir.empty())
        return std::string();
    fs::path joined = (fs::u8path(strDir) / sub).lexically_normal();
    if (!joined.has_filename())  // "out/tree/." normalises to "out/tree/"
        joined = joined.parent_path();
    return joined.u8string();
}

// The regular files below root (links to files included) and the folders
// that could not be read, each folder listed on its own so that one that
// cannot be read is said, not skipped in silence. A link to a folder is an
// entry, not a way in: a link loop cannot make the walk endless.
void Walk(const fs::path& root, std::vector<fs::path>& files, std::vector<CInput>& unreadable)
{
    std::vector<fs::path> pending{root};
    while (!pending.empty()) {
        const fs::path folder = pending.back();
        pending.pop_back();
        std::error_code ec;
        fs::directory_iterator it(folder, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code ecStatus;
            if (fs::is_directory(it->symlink_status(ecStatus)))
                pending.push_back(it->path());
            else if (fs::is_regular_file(it->status(ecStatus)) && !ecStatus)
                files.push_back(it->path());
        }
        if (ec)
            unreadable.push_back({folder.u8string(), std::string(), false, "cannot read the folder: " + ec.message()});
    }
}

void AddFolder(const Options& options, const std::string& strRoot, std::vector<CInput>& inputs)
{
    const bool bWantContainers = options.command != Command::kEncrypt;
    const fs::path root = fs::u8path(strRoot);  // UTF-8, whatever the code page
    const fs::path norm = root.lexically_normal();  // "tree/" has no file name, its parent does
    const fs::path rootName = norm.has_filename() ? norm.filename() : norm.parent_path().filename();
    std::vector<fs::path> files;
    std::vector<CInput> found;
    Walk(root, files, found);
    for (const fs::path& file : files) {
        // A temporary output a crash left behind is ours, not the user's.
        const std::string strPath = file.u8string();
        if (IsTemporaryName(file.filename().u8string().c_str()) || (bWantContainers && !StartsWithMagic(strPath)))
            continue;
        const fs::path sub = file.parent_path().lexically_relative(root);
        found.push_back({strPath, JoinOutput(options.strOutputDir, rootName / sub), false, std::string()});
    }
    std::sort(found.begin(), found.end(), [](const CInput& a, const CInput& b) { return a.strPath < b.strPath; });
    if (found.empty())
        found.push_back({strRoot, std::string(), true, std::string()});
    inputs.insert(inputs.end(), found.begin(), found.end());
}

}  // namespace

bool StartsWithMagic(const std::string& strPath)
{
    return SniffContainer(strPath.c_str()).nVersion != 0;
}

bool IsFolder(const std::string& strPath)
{
    return AfxGetFileKind(strPath.c_str()) == FileKind::kDirectory;
}

std::vector<CInput> ExpandInputs(const Options& options)
{
    std::vector<CInput> inputs;
    for (const std::string& strPath : options.files) {
        if (options.bRecursive && IsFolder(strPath))
            AddFolder(options, strPath, inputs);
        else
            inputs.push_back({strPath, options.strOutputDir, false, std::string()});
    }
    // A file named twice ("a._xt ./a._xt", or a folder and a file in it) is
    // worked once: the second time round its output would get a numbered twin.
    std::vector<fs::path> seen;
    auto repeated = [&seen](const CInput& input) {
        if (input.strPath == "-" || input.bNothingFound || !input.strUnreadable.empty())
            return false;
        std::error_code ec;
        fs::path path = fs::weakly_canonical(fs::absolute(fs::u8path(input.strPath), ec), ec);
        if (ec)
            path = fs::u8path(input.strPath).lexically_normal();
        if (std::find(seen.begin(), seen.end(), path) != seen.end())
            return true;
        seen.push_back(path);
        return false;
    };
    inputs.erase(std::remove_if(inputs.begin(), inputs.end(), repeated), inputs.end());
    return inputs;
}
