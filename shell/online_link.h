// The game's link to the race server in an online race: the race's events followed, the moves
// that arrive handed to the turn sequence, this computer's moves sent in order and sent again
// after a failure, and the connection's state in the caption. Built only with the network client;
// without it an online race file plays as a race on this computer.
#pragma once

#include <cstdint>

#include "platform/gx.h"

// The link's own timer on the game's window: a move that found no server is sent again on it. Its
// number is its own: the game's timers (game/turn.h, game/race_keeping.h) take 100 to 102.
constexpr uintptr_t kOnlineRetryTimer = 110;

// After start-up: when the race on the board names a server and a race, the link is made for the
// account the lobby signed in (its name and token in the per-user folder).
void StartOnlineLink(WindowHandle window);
// WM_NETWORK.
void OnlineNetwork(uintptr_t id);
// The retry timer's tick.
void OnlineRetryTick();
// After every message: this computer's moves not yet sent go out, one at a time.
void SendOnlineMoves();
// Before the window goes: the link's threads end.
void StopOnlineLink();
