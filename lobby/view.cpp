// Apexlobby's pages drawn with Dear ImGui in the selector's plain grey look.
#include "lobby/view.h"

#include <imgui.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "selector/dialog_view.h"

namespace {

constexpr ImU32 kFace = IM_COL32(192, 192, 192, 255);
constexpr ImU32 kText = IM_COL32(0, 0, 0, 255);
constexpr ImU32 kField = IM_COL32(255, 255, 255, 255);
constexpr ImU32 kCaption = IM_COL32(0, 0, 128, 255);
constexpr ImU32 kCaptionText = IM_COL32(255, 255, 255, 255);
constexpr ImU32 kButton = IM_COL32(212, 208, 200, 255);
constexpr ImU32 kButtonDown = IM_COL32(160, 160, 160, 255);
constexpr ImU32 kYourTurn = IM_COL32(160, 0, 0, 255);
// Light enough that a slider's value, drawn over its grab, stays readable in black.
constexpr ImU32 kGrab = IM_COL32(150, 150, 230, 255);

void Caption(const char* title) {
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const ImVec2 at = ImGui::GetCursorScreenPos();
  const float width = ImGui::GetContentRegionAvail().x;
  draw->AddRectFilled(at, ImVec2(at.x + width, at.y + 18), kCaption);
  draw->AddText(ImVec2(at.x + 4, at.y + 2), kCaptionText, title);
  ImGui::Dummy(ImVec2(width, 20));
}

// Two lines a race, so that a long circuit name and the race's state both fit the narrow screen:
// the race and its circuit, then its seats, laps and state.
std::string RaceLine(const LobbyRace& race, bool mine) {
  // A circuit this computer hasn't got goes by the start of its id.
  const bool named = race.circuit.size() != 64;
  std::string text = (race.yourTurn ? "> #" : "  #") + std::to_string(race.id) + "  " +
                     (named ? race.circuit : race.circuit.substr(0, 8)) + "\n     " + std::to_string(race.seats) +
                     " seats, " + std::to_string(race.laps) + (race.laps == 1 ? " lap" : " laps");
  if (!mine) return text + ", " + std::to_string(race.freeSeats) + " free";
  if (race.state == "open") return text + ", waiting";
  if (race.state == "finished") return text + ", finished";
  if (race.yourTurn) return text + ", your turn";
  if (!race.turnName.empty()) return text + ", " + race.turnName + "'s turn";
  return text;
}

void ServerPage(Lobby* lobby) {
  ImGui::TextWrapped("The race server's address:");
  ImGui::SetNextItemWidth(-1);
  if (ImGui::InputText("##server", lobby->server, sizeof lobby->server, ImGuiInputTextFlags_EnterReturnsTrue)) {
    OnUseServer(lobby);
  }
  if (ImGui::Button("Use this server")) OnUseServer(lobby);
}

void SignInPage(Lobby* lobby) {
  ImGui::Text("Server: %s", lobby->server);
  ImGui::Text("Name");
  ImGui::SetNextItemWidth(-1);
  // Enter in either field signs in, as the button does.
  bool enter = ImGui::InputText("##name", lobby->name, sizeof lobby->name, ImGuiInputTextFlags_EnterReturnsTrue);
  ImGui::Text("Password");
  ImGui::SetNextItemWidth(-1);
  enter = ImGui::InputText("##password", lobby->password, sizeof lobby->password,
                           ImGuiInputTextFlags_Password | ImGuiInputTextFlags_EnterReturnsTrue) ||
          enter;
  if (ImGui::Button("Sign in") || enter) OnSignIn(lobby, false);
  ImGui::SameLine();
  if (ImGui::Button("Sign up")) OnSignIn(lobby, true);
  ImGui::SameLine();
  if (ImGui::Button("Server...")) lobby->page = LobbyPage::kServer;
}

void RacesPage(Lobby* lobby) {
  // Two lists share what the heading, the buttons and the clear line leave.
  const float listHeight = (ImGui::GetContentRegionAvail().y - 110) / 2;
  ImGui::Text("My races (%s)", lobby->name);
  ImGui::BeginChild("mine", ImVec2(0, listHeight), true);
  for (size_t i = 0; i < lobby->mine.size(); ++i) {
    const LobbyRace& race = lobby->mine[i];
    if (race.yourTurn) ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(kYourTurn));
    ImGui::PushID(static_cast<int>(i));
    if (ImGui::Selectable(RaceLine(race, true).c_str(), lobby->selectedMine == static_cast<int>(i),
                          ImGuiSelectableFlags_AllowDoubleClick)) {
      lobby->selectedMine = static_cast<int>(i);
      lobby->selectedOpen = -1;
      if (ImGui::IsMouseDoubleClicked(0)) OnOpenRace(lobby);
    }
    ImGui::PopID();
    if (race.yourTurn) ImGui::PopStyleColor();
  }
  ImGui::EndChild();
  ImGui::Text("Open races");
  ImGui::BeginChild("open", ImVec2(0, listHeight), true);
  for (size_t i = 0; i < lobby->open.size(); ++i) {
    ImGui::PushID(1000 + static_cast<int>(i));
    if (ImGui::Selectable(RaceLine(lobby->open[i], false).c_str(), lobby->selectedOpen == static_cast<int>(i))) {
      lobby->selectedOpen = static_cast<int>(i);
      lobby->selectedMine = -1;
    }
    ImGui::PopID();
  }
  ImGui::EndChild();
  if (ImGui::Button("Open")) OnOpenRace(lobby);
  ImGui::SameLine();
  if (ImGui::Button("Join")) OnJoinRace(lobby);
  ImGui::SameLine();
  if (ImGui::Button("New...")) lobby->page = LobbyPage::kNewRace;
  ImGui::SameLine();
  if (ImGui::Button("Refresh")) OnRefresh(lobby);
  ImGui::SameLine();
  if (ImGui::Button("Sign out")) OnSignOut(lobby);
}

void NewRacePage(Lobby* lobby) {
  NewRaceForm& form = lobby->form;
  ImGui::Text("Circuit");
  ImGui::SetNextItemWidth(-1);
  const char* current = form.circuit >= 0 && form.circuit < static_cast<int>(lobby->circuitNames.size())
                            ? lobby->circuitNames[static_cast<size_t>(form.circuit)].c_str()
                            : "";
  if (ImGui::BeginCombo("##circuit", current)) {
    for (size_t i = 0; i < lobby->circuitNames.size(); ++i) {
      if (ImGui::Selectable(lobby->circuitNames[i].c_str(), form.circuit == static_cast<int>(i))) {
        form.circuit = static_cast<int>(i);
      }
    }
    ImGui::EndCombo();
  }
  ImGui::SetNextItemWidth(110);
  ImGui::SliderInt("seats", &form.seats, 2, 8);
  ImGui::SetNextItemWidth(110);
  ImGui::SliderInt("laps", &form.laps, 1, 20);
  ImGui::SetNextItemWidth(110);
  ImGui::SliderInt("computers", &form.computers, 0, form.seats - 1);
  ImGui::Checkbox("pro computers", &form.proComputers);
  ImGui::Checkbox("correspondence", &form.correspondence);
  if (form.correspondence) {
    ImGui::SetNextItemWidth(110);
    ImGui::SliderInt("hours a move", &form.hours, 1, 720);
  }
  ImGui::Checkbox("assists (driver, hint)", &form.assists);
  if (ImGui::Button("Create")) OnCreateRace(lobby);
  ImGui::SameLine();
  if (ImGui::Button("Back")) lobby->page = LobbyPage::kRaces;
}

}  // namespace

void SetUpLobbyLook(const Lobby& lobby) {
  std::vector<std::u16string> names;
  for (const std::string& name : lobby.circuitNames) names.push_back(FromUtf8(name));
  SetUpSelectorLook(names);
  ImGuiStyle& style = ImGui::GetStyle();
  style.WindowPadding = ImVec2(4, 4);
  style.FramePadding = ImVec2(3, 2);
  style.ItemSpacing = ImVec2(4, 3);
  style.ItemInnerSpacing = ImVec2(3, 2);
  style.FrameBorderSize = 1;
  style.ChildBorderSize = 1;
  style.Colors[ImGuiCol_WindowBg] = ImGui::ColorConvertU32ToFloat4(kFace);
  style.Colors[ImGuiCol_ChildBg] = ImGui::ColorConvertU32ToFloat4(kField);
  style.Colors[ImGuiCol_PopupBg] = ImGui::ColorConvertU32ToFloat4(kField);
  style.Colors[ImGuiCol_Text] = ImGui::ColorConvertU32ToFloat4(kText);
  style.Colors[ImGuiCol_FrameBg] = ImGui::ColorConvertU32ToFloat4(kField);
  style.Colors[ImGuiCol_FrameBgHovered] = ImGui::ColorConvertU32ToFloat4(kField);
  style.Colors[ImGuiCol_FrameBgActive] = ImGui::ColorConvertU32ToFloat4(kField);
  style.Colors[ImGuiCol_Button] = ImGui::ColorConvertU32ToFloat4(kButton);
  style.Colors[ImGuiCol_ButtonHovered] = ImGui::ColorConvertU32ToFloat4(kButton);
  style.Colors[ImGuiCol_ButtonActive] = ImGui::ColorConvertU32ToFloat4(kButtonDown);
  style.Colors[ImGuiCol_Header] = ImGui::ColorConvertU32ToFloat4(kCaption);
  style.Colors[ImGuiCol_HeaderHovered] = ImGui::ColorConvertU32ToFloat4(kButton);
  style.Colors[ImGuiCol_HeaderActive] = ImGui::ColorConvertU32ToFloat4(kCaption);
  style.Colors[ImGuiCol_CheckMark] = ImGui::ColorConvertU32ToFloat4(kText);
  style.Colors[ImGuiCol_SliderGrab] = ImGui::ColorConvertU32ToFloat4(kGrab);
  style.Colors[ImGuiCol_SliderGrabActive] = ImGui::ColorConvertU32ToFloat4(kGrab);
  style.Colors[ImGuiCol_Border] = ImGui::ColorConvertU32ToFloat4(IM_COL32(128, 128, 128, 255));
  style.Colors[ImGuiCol_TextSelectedBg] = ImGui::ColorConvertU32ToFloat4(IM_COL32(160, 160, 255, 255));
}

void DrawLobby(Lobby* lobby) {
  const ImGuiIO& io = ImGui::GetIO();
  ImGui::SetNextWindowPos(ImVec2(0, 0));
  ImGui::SetNextWindowSize(io.DisplaySize);
  ImGui::Begin("lobby", nullptr,
               ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings);
  Caption("Apexgrid Online");
  switch (lobby->page) {
    case LobbyPage::kServer:
      ServerPage(lobby);
      break;
    case LobbyPage::kSignIn:
      SignInPage(lobby);
      break;
    case LobbyPage::kRaces:
      RacesPage(lobby);
      break;
    case LobbyPage::kNewRace:
      NewRacePage(lobby);
      break;
  }
  // The clear line: what happened last, at the foot of every page.
  if (!lobby->line.empty()) {
    ImGui::Spacing();
    ImGui::PushTextWrapPos(io.DisplaySize.x - 4);
    ImGui::TextUnformatted(lobby->line.c_str());
    ImGui::PopTextWrapPos();
  }
  ImGui::End();
}
