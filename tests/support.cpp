// Test helpers: files in temporary folders, circuits, the screen format, programs run for real.
#include "tests/support.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "gfx/colour.h"
#include "platform/files.h"
#include "platform/gx.h"
#include "platform/text.h"

namespace fs = std::filesystem;

// ---- Temporary folders and files ----------------------------------------------------------------

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "apexgrid-test-XXXXXX").string();
  host_ = mkdtemp(pattern.data()) ? pattern : std::string();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!host_.empty()) fs::remove_all(host_, ignored);
}

std::u16string TempFolder::File(const std::string& name) const { return DevicePath(HostFile(name)); }

Bytes ReadBytes(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& hostPath, const Bytes& bytes) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& hostPath) { return fs::exists(hostPath); }

namespace {

constexpr uid_t kTestUser = 65534;  // nobody
constexpr gid_t kTestGroup = 65534;

bool RunsAsRoot() { return geteuid() == 0; }

}  // namespace

void GiveToTestUser(const std::string& hostPath) {
  if (!RunsAsRoot()) return;
  EXPECT_EQ(lchown(hostPath.c_str(), kTestUser, kTestGroup), 0) << hostPath;
  if (!fs::is_directory(fs::symlink_status(hostPath))) return;
  for (const auto& entry : fs::recursive_directory_iterator(hostPath)) {
    EXPECT_EQ(lchown(entry.path().c_str(), kTestUser, kTestGroup), 0) << entry.path();
  }
}

bool AsTestUser(const std::function<void()>& body) {
  if (!RunsAsRoot()) {
    const bool failedBefore = ::testing::Test::HasFailure();
    body();
    return failedBefore || !::testing::Test::HasFailure();
  }
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const bool failedBefore = ::testing::Test::HasFailure();
    if (setgroups(0, nullptr) != 0 || setresgid(kTestGroup, kTestGroup, kTestGroup) != 0 ||
        setresuid(kTestUser, kTestUser, kTestUser) != 0) {
      std::fprintf(stderr, "can't become the test user\n");
      std::_Exit(2);
    }
    body();
    std::fflush(stdout);
    std::_Exit(!failedBefore && ::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadText(const std::string& hostPath) {
  const Bytes bytes = ReadBytes(hostPath);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& hostPath, const std::string& text) {
  WriteBytes(hostPath, Bytes(text.begin(), text.end()));
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int Count(const std::string& text, const std::string& part) {
  int found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

uint16_t GetU16(const Bytes& bytes, size_t offset) {
  EXPECT_LE(offset + 2, bytes.size()) << "a field past the end";
  return offset + 2 <= bytes.size() ? ReadU16(bytes.data() + offset) : 0;
}

uint32_t GetU32(const Bytes& bytes, size_t offset) {
  EXPECT_LE(offset + 4, bytes.size()) << "a field past the end";
  return offset + 4 <= bytes.size() ? ReadU32(bytes.data() + offset) : 0;
}

// ---- Circuits in memory ---------------------------------------------------------------------------

TestCircuit::TestCircuit(uint16_t w, uint16_t h) {
  width = w;
  height = h;
  cells.assign(static_cast<size_t>(w) * h, 0);
  pixels.resize(cells.size());
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
}

void TestCircuit::BlockRect(int x0, int y0, int x1, int y1) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) Block(x, y);
  }
}

Bytes TestCircuit::Encode() const { return EncodeCircuit(*this); }

TestCircuit SmallRing(uint16_t width, uint16_t height) {
  TestCircuit ring(width, height);
  ring.BlockRect(0, 0, width, height);
  for (int y = 2; y < 38; ++y) {
    for (int x = 2; x < 58; ++x) ring.cells[static_cast<size_t>(y) * width + x] = 0;
  }
  ring.BlockRect(14, 14, 46, 26);
  ring.start = {31, 8};
  ring.lineA = {30, 1};
  ring.lineB = {30, 14};
  ring.ahead = {35, 8};
  return ring;
}

std::vector<GridPoint> SmallRingLap() {
  const GridPoint corners[] = {{52, 8}, {52, 32}, {8, 32}, {8, 8}, {32, 8}};
  std::vector<GridPoint> moves;
  GridPoint at{31, 8};
  for (GridPoint corner : corners) {
    while (at != corner) {
      const int dx = std::clamp(corner.x - at.x, -6, 6);
      const int dy = std::clamp(corner.y - at.y, -6, 6);
      at = GridPoint{static_cast<int16_t>(at.x + dx), static_cast<int16_t>(at.y + dy)};
      moves.push_back(at);
    }
  }
  return moves;
}

TestCircuit WalledRing(int width, int height, int lane) {
  TestCircuit c(static_cast<uint16_t>(width), static_cast<uint16_t>(height));
  c.BlockRect(0, 0, width, height);
  for (int y = 3; y < height - 3; ++y) {
    for (int x = 3; x < width - 3; ++x) c.cells[static_cast<size_t>(y) * width + x] = 0;
  }
  c.BlockRect(3 + lane, 3 + lane, width - 3 - lane, height - 3 - lane);
  const int lineX = width / 2;
  c.lineA = Pt(lineX, 0);
  c.lineB = Pt(lineX, 3 + lane + 2);
  c.start = Pt(lineX + 1, 3 + lane / 2);
  c.ahead = Pt(lineX + 3, 3 + lane / 2);
  return c;
}

// ---- The emulated screen's pixel format -------------------------------------------------------------

void ScreenFormatTest::TearDown() {
  ResetDisplay();
  ForgetColourFormat();
}

void ScreenFormatTest::UseFormat(uint32_t format) {
  GXDisplayProperties p = DefaultDisplayProperties();
  p.ffFormat = format;
  SetDisplayProperties(p);
  ForgetColourFormat();
}

// ---- Running the built programs ---------------------------------------------------------------------

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void Pause(int milliseconds) { std::system(("sleep " + std::to_string(milliseconds / 1000.0)).c_str()); }

bool WaitForFile(const std::string& hostPath, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (FileExists(hostPath)) return true;
    Pause(20);
  }
  return false;
}

bool WaitForText(const std::string& hostPath, const std::string& text, int milliseconds, int times) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (Count(ReadText(hostPath), text) >= times) return true;
    Pause(20);
  }
  return false;
}

bool Installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

int RunShell(const std::string& command, const TempFolder& scratch) {
  const std::string status = scratch.HostFile("status");
  fs::remove(status);
  std::system(("(" + command + "); echo $? > " + Quote(status)).c_str());
  return std::atoi(ReadText(status).c_str());
}

void StartShell(const std::string& command, const std::string& statusPath) {
  // The status appears by a rename, whole: a waiter that sees the file never reads it empty, as it
  // could between the shell creating it and writing to it.
  const std::string part = Quote(statusPath + ".part");
  std::system(("(" + command + "; echo $? >" + part + " && mv " + part + " " + Quote(statusPath) + ") &").c_str());
}

bool ProgramRun::Said(const std::string& line) const {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> ProgramRun::LinesStarting(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& l : lines) {
    if (l.rfind(prefix, 0) == 0) found.push_back(l);
  }
  return found;
}

ProgramRun RunProgram(const std::string& command, const TempFolder& scratch) {
  const std::string err = scratch.HostFile("err");
  ProgramRun run;
  run.status = RunShell(command + " 2>" + Quote(err), scratch);
  run.lines = LinesOf(ReadText(err));
  return run;
}

std::string LeakSuppressions() { return "LSAN_OPTIONS=suppressions=" + Quote(APEXGRID_LSAN_SUPPRESSIONS) + " "; }

// Mesa's driver can't be named in the suppression file: it is unloaded before the leak report,
// which then shows its blocks with no module. So under the sanitizers a window draws through
// SDL's own software renderer, without Mesa.
std::string DesktopLibraries() {
#ifdef APEXGRID_SANITIZED
  return "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 " + LeakSuppressions();
#else
  return "";
#endif
}

ProgramFolder::ProgramFolder(const std::string& name) : host_(fs::canonical(scratch_.host()).string() + "/" + name) {
  fs::create_directories(host_ + "/Circuits");
}

std::string ProgramFolder::Device() const { return ToUtf8(DevicePath(host_)); }

void ProgramFolder::AddProgram(const std::string& built, const std::string& name) const {
  fs::copy_file(built, HostFile(name));
}

std::vector<std::string> ProgramFolder::CircuitFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(host_ + "/Circuits")) {
    if (!entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  return names;
}

// ---- Windows on a virtual X server ------------------------------------------------------------------

VirtualScreen::VirtualScreen() {
  std::system(("Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp -fbdir " + Quote(folder_.host()) + " 3>" +
               Quote(folder_.HostFile("display")) + " 2>/dev/null & echo $! >" + Quote(folder_.HostFile("server")))
                  .c_str());
  for (int waited = 0; waited < 10000 && ReadText(folder_.HostFile("display")).empty(); waited += 20) {
    Pause(20);
  }
  std::string number = ReadText(folder_.HostFile("display"));
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (!number.empty()) display_ = "DISPLAY=:" + number + " ";
}

bool VirtualScreen::StartWindowManager() const {
  if (!Installed("openbox")) return false;
  const std::string ready = folder_.HostFile("wm-ready");
  std::system(("env HOME=" + Quote(folder_.host()) + " " + display_ + "openbox --startup " +
               Quote("touch " + Quote(ready)) + " >/dev/null 2>&1 & echo $! >" + Quote(folder_.HostFile("wm")))
                  .c_str());
  return WaitForFile(ready, 10000);
}

VirtualScreen::~VirtualScreen() {
  const std::string manager = ReadText(folder_.HostFile("wm"));
  if (!manager.empty()) std::system(("kill " + manager.substr(0, manager.find('\n')) + " 2>/dev/null").c_str());
  const std::string server = ReadText(folder_.HostFile("server"));
  if (server.empty()) return;
  // Stop the server we started, by its number, and let it finish before the folder goes.
  const std::string pid = server.substr(0, server.find('\n'));
  std::system(("kill " + pid + " 2>/dev/null; for i in $(seq 100); do kill -0 " + pid +
               " 2>/dev/null || break; sleep 0.05; done")
                  .c_str());
}

std::string VirtualScreen::Xdo(const std::string& arguments) const {
  const std::string out = folder_.HostFile("xdo");
  std::system(("timeout 10 env " + display_ + "xdotool " + arguments + " >" + Quote(out) + " 2>&1").c_str());
  return ReadText(out);
}

std::string VirtualScreen::FindWindow(const std::string& title) const {
  // xdotool's warnings share the output, for example about a window that closed during the
  // search ("XGetWindowProperty[...] failed (code=1)"): the window is the first line that is a
  // window's number.
  for (const std::string& line : LinesOf(Xdo("search --sync --onlyvisible --name '^" + title + "$'"))) {
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) return line;
  }
  return std::string();
}

WindowPlace VirtualScreen::PlaceOf(const std::string& window) const {
  WindowPlace place;
  place.geometry = Xdo("getwindowgeometry --shell " + window);
  for (const std::string& line : LinesOf(place.geometry)) {
    if (line.rfind("X=", 0) == 0) place.left = std::atoi(line.c_str() + 2);
    if (line.rfind("Y=", 0) == 0) place.top = std::atoi(line.c_str() + 2);
  }
  return place;
}

void WindowTest::SetUp() {
  if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  screen_.emplace();
  ASSERT_TRUE(screen_->running()) << "Xvfb did not start";
}

ScreenRgb ShownAs(uint16_t colour) {
  uint8_t r, g, b;
  ExpandPixel(colour, true, &r, &g, &b);
  return ScreenRgb{r, g, b};
}

bool Near(const ScreenRgb& a, const ScreenRgb& b) {
  return std::abs(a.r - b.r) <= 8 && std::abs(a.g - b.g) <= 8 && std::abs(a.b - b.b) <= 8;
}

namespace {

// The frame buffer file is an X window dump: a header of big-endian 32-bit fields, a colour table
// of 12-byte entries, then the pixels, each 32 bits in the dump's own byte order.
constexpr size_t kDumpHeaderSize = 100;

struct DumpLayout {
  uint32_t width = 0, height = 0, byteOrder = 0, bitsPerPixel = 0, bytesPerLine = 0;
  uint64_t start = 0;  // the first pixel, past the header and the colour table

  explicit DumpLayout(const unsigned char* header) {
    auto field = [&](int i) {
      const unsigned char* b = header + 4 * i;
      return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 |
             b[3];
    };
    width = field(4);
    height = field(5);
    byteOrder = field(7);
    bitsPerPixel = field(11);
    bytesPerLine = field(12);
    start = field(0) + static_cast<uint64_t>(field(19)) * 12;
  }

  bool Usable() const { return bitsPerPixel == 32 && bytesPerLine / 4 >= width; }
  uint64_t End() const { return start + static_cast<uint64_t>(bytesPerLine) * height; }
  bool Holds(int x, int y) const {
    return x >= 0 && y >= 0 && static_cast<uint32_t>(x) < width && static_cast<uint32_t>(y) < height;
  }
  uint64_t Offset(int x, int y) const {
    return start + static_cast<uint64_t>(y) * bytesPerLine + static_cast<uint64_t>(x) * 4;
  }
  ScreenRgb Pixel(const unsigned char* at) const {
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i) p |= static_cast<uint32_t>(at[byteOrder == 0 ? i : 3 - i]) << (8 * i);
    return ScreenRgb{static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 8 & 255), static_cast<int>(p & 255)};
  }
};

}  // namespace

bool ScreenDump::Read(const std::string& path) {
  bytes_ = ReadBytes(path);
  valid_ = false;
  if (bytes_.size() < kDumpHeaderSize) return false;
  const DumpLayout layout(bytes_.data());
  valid_ = layout.Usable() && bytes_.size() >= layout.End();
  return valid_;
}

bool ScreenDump::Shows(int x, int y, const ScreenRgb& colour) const {
  if (!valid_) return false;
  const DumpLayout layout(bytes_.data());
  return layout.Holds(x, y) && Near(layout.Pixel(&bytes_[layout.Offset(x, y)]), colour);
}

RgbImage ScreenDump::Image() const {
  RgbImage image;
  if (!valid_) return image;
  const DumpLayout layout(bytes_.data());
  image.width = layout.width;
  image.height = layout.height;
  image.rgb.reserve(static_cast<size_t>(layout.width) * layout.height * 3);
  for (int y = 0; y < static_cast<int>(layout.height); ++y) {
    for (int x = 0; x < static_cast<int>(layout.width); ++x) {
      const ScreenRgb p = layout.Pixel(&bytes_[layout.Offset(x, y)]);
      image.rgb.insert(image.rgb.end(),
                       {static_cast<uint8_t>(p.r), static_cast<uint8_t>(p.g), static_cast<uint8_t>(p.b)});
    }
  }
  return image;
}

bool ScreenFileShows(const std::string& path, int x, int y, const ScreenRgb& colour) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[kDumpHeaderSize];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  const DumpLayout layout(header);
  if (!layout.Usable() || !layout.Holds(x, y)) return false;
  unsigned char pixel[4];
  if (!in.seekg(static_cast<std::streamoff>(layout.Offset(x, y))) || !in.read(reinterpret_cast<char*>(pixel), 4)) {
    return false;
  }
  return Near(layout.Pixel(pixel), colour);
}
