#include "cipher/Methods.h"

#include <cctype>

namespace {

const CMethodInfo kMethods[kMethodCount] = {
    {0, "Sapphire II", "sapphire"},
    {1, "DES", "des"},
    {2, "DES-CBC", "des-cbc"},
    {3, "Blowfish", "blowfish"},
};

bool EqualNoCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

}  // namespace

const CMethodInfo* GetMethodInfo(int nEncType)
{
    if (nEncType < 0 || nEncType >= kMethodCount)
        return nullptr;
    return &kMethods[nEncType];
}

int ParseMethodName(const char* psz)
{
    if (!psz || !*psz)
        return -1;
    if (psz[0] >= '0' && psz[0] < '0' + kMethodCount && psz[1] == '\0')
        return psz[0] - '0';
    for (const CMethodInfo& m : kMethods) {
        if (EqualNoCase(psz, m.pszKeyword) || EqualNoCase(psz, m.pszName))
            return m.nEncType;
    }
    return -1;
}
