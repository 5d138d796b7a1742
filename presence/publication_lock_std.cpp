// The publication lock of the native build: a static mutex, which needs no
// initialisation call.
#include <mutex>

#include "presence/publication_lock.h"

static std::mutex publicationMutex;

void LockPublication(void) { publicationMutex.lock(); }

void UnlockPublication(void) { publicationMutex.unlock(); }
