#include "container/WorkItem.h"

CCriticalSection g_csWork;
