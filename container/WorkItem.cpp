#include "container/WorkItem.h"

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

CV2Fault LockedGet(const CV2Fault& field)
{
    CScopedLock lock(g_csWork);
    return field;
}

void LockedSet(CV2Fault& field, const CV2Fault& value)
{
    CScopedLock lock(g_csWork);
    field = value;
}
