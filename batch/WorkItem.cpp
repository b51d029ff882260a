#include "batch/WorkItem.h"

CCriticalSection g_csWork;

CString LockedCopy(const CString& field)
{
    CScopedLock lock(g_csWork);
    return field;
}

void LockedAssign(CString& field, const CString& value)
{
    CScopedLock lock(g_csWork);
    field = value;
}

int LockedGet(const int& field)
{
    CScopedLock lock(g_csWork);
    return field;
}

void LockedSet(int& field, int value)
{
    CScopedLock lock(g_csWork);
    field = value;
}

int64_t LockedGet(const int64_t& field)
{
    CScopedLock lock(g_csWork);
    return field;
}

void LockedSet(int64_t& field, int64_t value)
{
    CScopedLock lock(g_csWork);
    field = value;
}
