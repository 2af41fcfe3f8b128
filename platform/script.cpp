// Reading the lines of a headless script.
#include "platform/script.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/gx.h"
#include "platform/window.h"

namespace {

constexpr long kLongestWait = 86400000;  // a day of virtual time
constexpr long kLongestSleep = 600000;   // ten real minutes
constexpr long kLastListLine = 32767;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Cuts the line at a `#` that begins a word, and trims blanks at both ends.
std::string WithoutComment(const std::string& text) {
  size_t end = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '#' && (i == 0 || IsBlank(text[i - 1]))) {
      end = i;
      break;
    }
  }
  size_t begin = 0;
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    size_t j = i;
    while (j < text.size() && !IsBlank(text[j])) ++j;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  return words;
}

// A whole decimal number within [lowest, highest], nothing else in the word.
bool ReadNumber(const std::string& word, long lowest, long highest, long* value) {
  if (word.empty() || word.size() > 12) return false;
  size_t i = word[0] == '-' ? 1 : 0;
  if (i == word.size()) return false;
  for (size_t k = i; k < word.size(); ++k) {
    if (word[k] < '0' || word[k] > '9') return false;
  }
  errno = 0;
  const long number = std::strtol(word.c_str(), nullptr, 10);
  if (errno != 0 || number < lowest || number > highest) return false;
  *value = number;
  return true;
}

struct KeyName {
  const char* name;
  int16_t code;
};

constexpr KeyName kKeyNames[] = {
    {"up", kKeyUp},
    {"down", kKeyDown},
    {"left", kKeyLeft},
    {"right", kKeyRight},
    {"a", kKeyA},
    {"b", kKeyB},
    {"c", kKeyC},
    {"start", kKeyStart},
    {"f11", kHostKeyFullScreen},
    {"d", kHostKeyDriver},
    {"h", kHostKeyHint},
    {"f", kHostKeyForesight},
    {"r", kHostKeyResume},
    {"p", kHostKeyPlayback},
    {"e", kHostKeyExport},
    {"space", kHostKeyPause},
    {"comma", kHostKeyStepBack},
    {"period", kHostKeyStepOn},
    {"escape", kHostKeyLeave},
    {"backspace", kHostKeyBackspace},
    {"o", kHostKeyOnline},
};

struct Word {
  const char* name;
  ScriptAction action;
};

constexpr Word kBareWords[] = {
    {"blur", ScriptAction::kBlur},   {"focus", ScriptAction::kFocus},   {"close", ScriptAction::kClose},
    {"start", ScriptAction::kStart}, {"storno", ScriptAction::kStorno}, {"ok", ScriptAction::kOk},
};

constexpr Word kPenWords[] = {
    {"tap", ScriptAction::kTap},
    {"down", ScriptAction::kDown},
    {"move", ScriptAction::kMove},
    {"up", ScriptAction::kUp},
};

// Refuses a line: what is wrong goes to *why.
int Refuse(const std::string& what, std::string* why) {
  *why = what;
  return -1;
}

// The lines whose verb takes a number or text after it: wait, sleep, network, select and type. 1
// with the event filled in, -1 with what is wrong in *why, 0 for any other verb.
int ParseArgumentLine(const std::string& text, const std::vector<std::string>& words, ScriptEvent* parsed,
                      std::string* why) {
  const std::string& verb = words[0];
  if (verb == "wait" || verb == "sleep") {
    const long longest = verb == "wait" ? kLongestWait : kLongestSleep;
    long ms;
    if (words.size() != 2 || !ReadNumber(words[1], 0, longest, &ms)) {
      return Refuse("`" + verb + "` needs milliseconds from 0 to " + std::to_string(longest), why);
    }
    parsed->action = verb == "wait" ? ScriptAction::kWait : ScriptAction::kSleep;
    parsed->milliseconds = static_cast<uint32_t>(ms);
    return 1;
  }
  if (verb == "network") {
    long count;
    long ms;
    if (words.size() != 3 || !ReadNumber(words[1], 0, 32767, &count) || !ReadNumber(words[2], 0, kLongestSleep, &ms)) {
      return Refuse("`network` needs a count of results from 0 to 32767 and milliseconds from 0 to " +
                        std::to_string(kLongestSleep),
                    why);
    }
    parsed->action = ScriptAction::kNetwork;
    parsed->index = static_cast<int>(count);
    parsed->milliseconds = static_cast<uint32_t>(ms);
    return 1;
  }
  if (verb == "select") {
    long index;
    if (words.size() != 2 || !ReadNumber(words[1], 0, kLastListLine, &index)) {
      return Refuse("`select` needs a list line from 0 to " + std::to_string(kLastListLine), why);
    }
    parsed->action = ScriptAction::kSelect;
    parsed->index = static_cast<int>(index);
    return 1;
  }
  if (verb == "type") {
    // The text is the rest of the raw line after one blank, so that it may hold blanks and `#`.
    const size_t start = text.find(verb) + verb.size() + 1;
    if (start >= text.size()) return Refuse("`type` needs the text to type", why);
    parsed->action = ScriptAction::kType;
    parsed->file = text.substr(start);
    if (!parsed->file.empty() && parsed->file.back() == '\r') parsed->file.pop_back();
    if (parsed->file.empty()) return Refuse("`type` needs the text to type", why);
    return 1;
  }
  return 0;
}

}  // namespace

int ParseScriptLine(const std::string& text, int lineNumber, ScriptEvent* event, std::string* error) {
  const std::string line = WithoutComment(text);
  if (line.empty()) return 0;
  const std::vector<std::string> words = Words(line);
  const std::string& verb = words[0];
  ScriptEvent parsed;
  parsed.line = lineNumber;

  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what;
    return -1;
  };

  for (const Word& w : kBareWords) {
    if (verb != w.name) continue;
    if (words.size() != 1) return fail("`" + verb + "` takes nothing after it");
    parsed.action = w.action;
    *event = parsed;
    return 1;
  }
  for (const Word& w : kPenWords) {
    if (verb != w.name) continue;
    long x, y;
    if (words.size() != 3 || !ReadNumber(words[1], -32768, 32767, &x) || !ReadNumber(words[2], -32768, 32767, &y)) {
      return fail("`" + verb + "` needs two whole numbers X Y from -32768 to 32767");
    }
    parsed.action = w.action;
    parsed.x = static_cast<int>(x);
    parsed.y = static_cast<int>(y);
    *event = parsed;
    return 1;
  }
  if (verb == "key") {
    if (words.size() == 2) {
      for (const KeyName& k : kKeyNames) {
        if (words[1] == k.name) {
          parsed.action = ScriptAction::kKey;
          parsed.key = k.code;
          *event = parsed;
          return 1;
        }
      }
    }
    std::string names;
    for (const KeyName& k : kKeyNames) names += (names.empty() ? "" : ", ") + std::string(k.name);
    return fail("`key` needs one of " + names);
  }
  std::string why;
  const int argued = ParseArgumentLine(text, words, &parsed, &why);
  if (argued < 0) return fail(why);
  if (argued > 0) {
    *event = parsed;
    return 1;
  }
  if (verb == "shot") {
    // The file is the rest of the line, so that its name may hold blanks.
    size_t start = verb.size();
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start >= line.size()) return fail("`shot` needs a file name");
    parsed.action = ScriptAction::kShot;
    parsed.file = line.substr(start);
    *event = parsed;
    return 1;
  }
  return fail("unknown event `" + verb + "`");
}
