// Build-time generator of the game's data: the data pictures, the built-in circuits, and the
// small inputs each fuzzer starts from.
//
//   apexassets pictures LAYOUT FONT_FOLDER OUT_FOLDER
//   apexassets circuit DESCRIPTION OUT.cct
//   apexassets icon HICOLOR_FOLDER SOURCE.cpp
//   apexassets fuzz-seeds CORPUS_FOLDER
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "gfx/picture.h"
#include "tools/circuit_data.h"
#include "tools/data_pictures.h"
#include "tools/picture_layout.h"
#include "tools/program_icon.h"
#include "tools/tool_error.h"
#include "tools/track_builder.h"
#include "tools/track_plan.h"

namespace {

// Small well-formed inputs for each fuzzer, so that it reaches past the size checks: one folder a
// fuzzer, filled only when it is empty, since a corpus grows from run to run.
void WriteFuzzSeeds(const std::string& corpus) {
  // A 4 x 3 circuit with one blocked cell and a record of two points.
  CircuitFile ring;
  ring.width = 4;
  ring.height = 3;
  ring.start = GridPoint{1, 1};
  ring.lineB = GridPoint{0, 2};
  ring.ahead = GridPoint{3, 1};
  ring.pixels.assign(12, 0xF81F);
  ring.cells.assign(12, 0);
  ring.cells[4] = 1;
  ring.hasRecordSection = true;
  ring.record = {GridPoint{1, 1}, GridPoint{2, 1}};
  const uint16_t square[] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
  const ByteVector circuit = EncodeCircuit(ring);
  const ByteVector picture = EncodePicture(2, 2, square);
  const auto text = [](const std::string& s) { return ByteVector(s.begin(), s.end()); };
  const struct {
    const char* fuzzer;
    const char* name;
    ByteVector bytes;
  } seeds[] = {
      {"script_line_fuzz", "shot", text("shot a#b.png  # wait 400")},
      {"load_circuit_fuzz", "ring", circuit},
      {"load_picture_fuzz", "square", picture},
      {"read_text_file_fuzz", "path", ByteVector{'\\', 0, 'C', 0, 0x0C, 0x01}},
      {"circuit_tool_fuzz", "ring", circuit},
      {"circuit_tool_fuzz", "square", picture},
      {"race_file_fuzz", "race",
       text("apexgrid-race 1\ncircuit Field.cct\ncircuit-sha256 "
            "0000000000000000000000000000000000000000000000000000000000000000\nplayers 2\nlaps 1\n"
            "pace live 30\nassists off\nseat 0 Ana\ndriver 1 pro\nmove 0 37 6\nmove 1 33 0\n"
            "move 0 41 6\ndriver 1 club\nretire 1\nscroll 0 20\n")},
      // The race server's readers: the first byte picks an account, a race, a move or a circuit.
      {"server_request_fuzz", "account",
       text(std::string(1, '\0') + "{\"name\":\"ana\",\"password\":\"long enough\"}")},
      {"server_request_fuzz", "race",
       text("\x01{\"circuit\":\"" + std::string(64, 'a') +
            "\",\"seats\":3,\"laps\":2,\"pace\":\"correspondence\",\"move_seconds\":7200,"
            "\"assists\":false,\"computers\":{\"2\":\"pro\"}}")},
      {"server_request_fuzz", "move", text("\x02{\"index\":12,\"x\":-31,\"y\":8}")},
      {"server_request_fuzz", "circuit",
       [&circuit] {
         ByteVector bytes{3};
         bytes.insert(bytes.end(), circuit.begin(), circuit.end());
         return bytes;
       }()},
  };
  namespace fs = std::filesystem;
  std::error_code error;
  std::vector<fs::path> empty;
  for (const auto& seed : seeds) {
    const fs::path folder = fs::path(corpus) / seed.fuzzer;
    fs::create_directories(folder, error);
    if (fs::is_empty(folder, error)) empty.push_back(folder);
  }
  for (const auto& seed : seeds) {
    const fs::path folder = fs::path(corpus) / seed.fuzzer;
    if (std::find(empty.begin(), empty.end(), folder) == empty.end()) continue;
    WriteFileSafely((folder / seed.name).string(), seed.bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 4 && args[0] == "pictures") {
      WriteDataPictures(ReadPictureLayouts(args[1]), args[2], args[3]);
      return 0;
    }
    if (args.size() == 3 && args[0] == "circuit") {
      WriteFileSafely(args[2], EncodeCircuit(BuildCircuit(ReadTrackPlan(args[1]))));
      return 0;
    }
    if (args.size() == 3 && args[0] == "icon") {
      WriteProgramIcons(args[1], args[2]);
      return 0;
    }
    if (args.size() == 2 && args[0] == "fuzz-seeds") {
      WriteFuzzSeeds(args[1]);
      return 0;
    }
    std::cerr << "usage: apexassets pictures LAYOUT FONT_FOLDER OUT_FOLDER\n"
                 "       apexassets circuit DESCRIPTION OUT.cct\n"
                 "       apexassets icon HICOLOR_FOLDER SOURCE.cpp\n"
                 "       apexassets fuzz-seeds CORPUS_FOLDER\n";
    return 2;
  } catch (const ToolError& e) {
    std::cerr << "apexassets: " << e.what() << "\n";
    return 1;
  }
}
