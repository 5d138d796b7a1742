// The publication lock of the DLL: a slim reader/writer lock taken
// exclusively. Statically initialised, so it needs no initialisation call and
// holds no resource to release at unload.
#include <windows.h>

#include "presence/publication_lock.h"

static SRWLOCK publicationLock = SRWLOCK_INIT;

void LockPublication(void) { AcquireSRWLockExclusive(&publicationLock); }

void UnlockPublication(void) { ReleaseSRWLockExclusive(&publicationLock); }
