// Build-time generator of the game's data: the data pictures and the built-in circuits.
//
//   apexassets pictures LAYOUT FONT_FOLDER OUT_FOLDER
//   apexassets circuit DESCRIPTION OUT.cct
#include <iostream>
#include <string>
#include <vector>

#include "tools/circuit_data.h"
#include "tools/data_pictures.h"
#include "tools/picture_layout.h"
#include "tools/tool_error.h"
#include "tools/track_builder.h"
#include "tools/track_plan.h"

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
    std::cerr << "usage: apexassets pictures LAYOUT FONT_FOLDER OUT_FOLDER\n"
                 "       apexassets circuit DESCRIPTION OUT.cct\n";
    return 2;
  } catch (const ToolError& e) {
    std::cerr << "apexassets: " << e.what() << "\n";
    return 1;
  }
}
