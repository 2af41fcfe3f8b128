// Fuzzes the reader of headless script lines: any bytes give an event in range, a skip or a reason.
#include <cstdint>
#include <string>

#include "platform/gx.h"
#include "platform/script.h"
#include "platform/window.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  ScriptEvent event;
  std::string error;
  const int got = ParseScriptLine(line, 1, &event, &error);
  if (got == -1) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (got == 0) return 0;
  if (got != 1 || event.line != 1) __builtin_trap();
  if (event.x < -32768 || event.x > 32767 || event.y < -32768 || event.y > 32767) __builtin_trap();
  if (event.milliseconds > 86400000u || event.index < 0 || event.index > 32767) __builtin_trap();
  if (event.action == ScriptAction::kKey) {
    const int16_t keys[] = {kKeyUp,
                            kKeyDown,
                            kKeyLeft,
                            kKeyRight,
                            kKeyA,
                            kKeyB,
                            kKeyC,
                            kKeyStart,
                            kHostKeyFullScreen,
                            kHostKeyDriver,
                            kHostKeyHint,
                            kHostKeyForesight,
                            kHostKeyResume,
                            kHostKeyPlayback,
                            kHostKeyExport,
                            kHostKeyPause,
                            kHostKeyStepBack,
                            kHostKeyStepOn,
                            kHostKeyLeave,
                            kHostKeyBackspace,
                            kHostKeyOnline};
    bool known = false;
    for (int16_t key : keys) known = known || event.key == key;
    if (!known) __builtin_trap();
  }
  if (event.action == ScriptAction::kShot && event.file.empty()) __builtin_trap();
  return 0;
}
