// The game's link to the race server where the network client isn't built: online races play as
// races on this computer.
#include "shell/online_link.h"

void StartOnlineLink(WindowHandle) {}
void OnlineNetwork(uintptr_t) {}
void OnlineRetryTick() {}
void SendOnlineMoves() {}
void StopOnlineLink() {}
