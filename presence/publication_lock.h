// The lock that keeps publications from interleaving. It guards only the
// presence record, its buffers and the library call; the player is never
// called while it is held. It needs no initialisation call.
#pragma once

void LockPublication(void);
void UnlockPublication(void);
