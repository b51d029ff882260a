// The worker thread that processes one work item with the cipher its
// EncType names, and the way the batch driver starts it.
#pragma once

#include "batch/WorkItem.h"
#include "framework/afxdefs.h"
#include "framework/afxthread.h"

// Thread procedure; pParam is the CWorkItem. Stores m_nResult, then
// m_bDone = 1 in one locked section, and never touches the item after.
// Always returns 0.
UINT WorkerThreadProc(LPVOID pParam);

// Like WorkerThreadProc, but checks the container without writing anything
// (the command-line tool's verify).
UINT VerifyThreadProc(LPVOID pParam);

// Waits at most nMilliseconds for the worker on item to store its result;
// true once m_bDone is 1. The worker wakes its waiter as soon as the result
// is stored, so a file costs no polling delay.
bool WaitForWorkerDone(CWorkItem& item, unsigned nMilliseconds);

// Starts pfn on pItem: created suspended at normal priority, then resumed;
// the thread object deletes itself. False when the thread could not be
// created or resumed (the item is then untouched by any thread).
bool StartWorker(CWorkItem* pItem, AFX_THREADPROC pfn = WorkerThreadProc);
