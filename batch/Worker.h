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

// Starts pfn on pItem: created suspended at normal priority, then resumed;
// the thread object deletes itself. False when the thread could not be
// created or resumed (the item is then untouched by any thread).
bool StartWorker(CWorkItem* pItem, AFX_THREADPROC pfn = WorkerThreadProc);
