// Feeds arbitrary files to apexcircuit's readers: info, topng and render must answer every file
// with a result or a one-line refusal, never by reading outside it.
#include <sstream>
#include <string>

#include "fuzz/fuzz_file.h"
#include "tools/circuit_tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = HostPath(WriteFuzzFile(data, size));
  std::ostringstream out, err;
  RunCircuitTool({"info", path}, out, err);
  RunCircuitTool({"topng", path, "/dev/null"}, out, err);
  RunCircuitTool({"render", path, "/dev/null", "--outline", "--line", "--record"}, out, err);
  return 0;
}
