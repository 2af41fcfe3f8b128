// Apexpick's dialog drawn with Dear ImGui: its look, and one frame of it.
#pragma once

#include <string>
#include <vector>

#include "selector/selector.h"

// The style, and the fonts with the glyphs of the names to be listed.
void SetUpSelectorLook(const std::vector<std::u16string>& names);

// One frame of the dialog over the whole screen (ImGui's display size), between the host's
// ImGui::NewFrame and ImGui::Render. Pen and keys act on the dialog through its handlers.
void DrawSelectorDialog(SelectorDialog* dialog);

// What the list says below its last line when the folder held more circuits than are listed.
extern const char kMoreCircuitsNote[];
