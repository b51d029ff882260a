#include "cipher/Methods.h"

#include <cctype>

namespace {

const CMethodInfo kMethods[kAllMethodCount] = {
    {0, "Sapphire II", "sapphire"},
    {1, "DES", "des"},
    {2, "DES-CBC", "des-cbc"},
    {3, "Blowfish", "blowfish"},
    {4, "AES-256-GCM (authenticated)", "aes"},
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
    if (nEncType < 0 || nEncType >= kAllMethodCount)
        return nullptr;
    return &kMethods[nEncType];
}

int ParseMethodName(const char* psz)
{
    if (!psz || !*psz)
        return -1;
    if (psz[0] >= '0' && psz[0] < '0' + kAllMethodCount && psz[1] == '\0')
        return psz[0] - '0';
    for (const CMethodInfo& m : kMethods) {
        if (EqualNoCase(psz, m.pszKeyword) || EqualNoCase(psz, m.pszName))
            return m.nEncType;
    }
    return -1;
}
