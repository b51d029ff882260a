// The worker thread that runs one work item (RunItem) for the batch driver,
// and the way the driver starts it.
#pragma once

#include "container/WorkItem.h"
#include "framework/afxdefs.h"
#include "framework/afxthread.h"

// Thread procedure; pParam is the CWorkItem. Stores m_nResult, then
// m_bDone = 1 in one locked section, and never touches the item after.
// Always returns 0.
UINT WorkerThreadProc(LPVOID pParam);

// Starts pfn on pItem: created suspended at normal priority, then resumed;
// the thread object deletes itself. False when the thread could not be
// created or resumed (the item is then untouched by any thread).
bool StartWorker(CWorkItem* pItem, AFX_THREADPROC pfn = WorkerThreadProc);
