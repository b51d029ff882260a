// The record one file's work passes between a front end (the batch driver,
// the tool's job) and the worker thread that runs it (RunItem), and the lock
// that guards it. The per-file processor reads and writes it; the formats
// below never see it.
#pragma once

#include <cstdint>

#include "base/FileGuards.h"
#include "base/ResultCodes.h"
#include "container/FaultV2.h"
#include "framework/afxdefs.h"
#include "framework/afxlock.h"
#include "framework/afxstr.h"

// Guards every field of a CWorkItem in work and the busy dialog's cancel flag.
// Held for one field access at a time, never across file or cipher work.
extern CCriticalSection g_csWork;

struct CWorkItem {
    CString m_strSource;
    CString m_strDest;
    int m_bDone = 0;
    int m_bCancel = 0;
    int m_nPercent = 0;
    CString m_strPassword;
    int m_bEncrypt = 0;
    int m_nResult = 0;
    int m_nEncType = 0;
    int m_nKept = KEPT_NOTHING;  // written by the file routines before m_bDone
    // Windows: an event the worker sets right after m_bDone = 1, so that the
    // waiting thread wakes at once; the flag alone carries the result. Null
    // when nobody waits on one. The worker signals its own duplicate: the
    // waiting side may close this handle as soon as it sees the flag.
    HANDLE m_hDoneEvent = nullptr;
    // Why an authenticated container was refused (V2_FAULT_NONE for anything
    // else), written by the file routines before m_bDone.
    CV2Fault m_v2Fault;
    // Decrypting: m_nEncType is only the first method tried; the one that
    // opens the container is found and stored there (RunItem).
    int m_bFirstGuess = 0;
    // Written with m_nResult: the password opened nothing (no legacy method
    // passed the name check, or an authenticated container's key check
    // failed), so another password may; nothing was written.
    int m_bPasswordRefused = 0;

    CWorkItem() = default;
    // The password must not outlive the item in freed memory.
    ~CWorkItem() { m_strPassword.SecureEmpty(); }
    CWorkItem(const CWorkItem&) = delete;
    CWorkItem& operator=(const CWorkItem&) = delete;
};

// One field of a work item read or written under g_csWork. The value's type
// is taken from the field alone, so a literal or a C string may be stored.
template <class T>
T LockedGet(const T& field)
{
    CScopedLock lock(g_csWork);
    return field;
}

template <class T>
struct TFieldOf {
    using Type = T;
};

template <class T>
void LockedSet(T& field, const typename TFieldOf<T>::Type& value)
{
    CScopedLock lock(g_csWork);
    field = value;
}

// fn with a copy of the item's password, wiped on every way out.
template <class Fn>
auto WithPassword(CWorkItem& item, Fn&& fn) -> decltype(fn(CString()))
{
    CString strPassword = LockedGet(item.m_strPassword);
    CWipeOnExit wipe(strPassword);
    return fn(static_cast<const CString&>(strPassword));
}
