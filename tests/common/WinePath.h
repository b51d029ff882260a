// Test programs under Wine see the build tree's Unix paths through drive Z:.
// Naming the drive keeps the working directory out of it; natively the path
// is returned as it is.
#pragma once

#include <algorithm>
#include <string>

inline std::string WinePath(std::string path)
{
#ifdef _WIN32
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}
