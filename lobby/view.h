// Apexlobby drawn with Dear ImGui: its look, and one frame of it.
#pragma once

#include "lobby/lobby.h"

// The selector's fonts and plain grey look, with room between the fields.
void SetUpLobbyLook(const Lobby& lobby);

// One frame over the whole screen, between the host's ImGui::NewFrame and ImGui::Render.
void DrawLobby(Lobby* lobby);
