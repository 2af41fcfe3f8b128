// Reader of the data pictures' layout file.
#include "tools/picture_layout.h"

#include <fstream>
#include <sstream>

#include "tools/tool_error.h"

const LayoutElement* PictureLayout::Find(const std::string& kind, const std::string& name) const {
  for (const LayoutElement& e : elements) {
    if (e.kind == kind && e.name == name) return &e;
  }
  return nullptr;
}

namespace {

// Splits a line into words; a double-quoted text is one word (returned without its quotes and
// flagged). A '#' outside quotes starts a comment.
struct Word {
  std::string text;
  bool quoted = false;
};

std::vector<Word> Words(const std::string& line, const std::string& where) {
  std::vector<Word> words;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '#') break;
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '"') {
      const size_t end = line.find('"', i + 1);
      if (end == std::string::npos) throw ToolError(where + ": a text has no closing quote");
      words.push_back({line.substr(i + 1, end - i - 1), true});
      i = end + 1;
    } else {
      size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '#' && line[end] != '"' &&
             line[end] != '\r') {
        ++end;
      }
      words.push_back({line.substr(i, end - i), false});
      i = end;
    }
  }
  return words;
}

int Number(const Word& w, const std::string& where) {
  std::istringstream in(w.text);
  int value = 0;
  char rest = 0;
  if (w.quoted || !(in >> value) || (in >> rest)) {
    throw ToolError(where + ": '" + w.text + "' is not a whole number");
  }
  return value;
}

}  // namespace

std::vector<PictureLayout> ReadPictureLayouts(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw ToolError("can't open the layout file " + path);
  std::vector<PictureLayout> pictures;
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    const std::string where = path + " line " + std::to_string(lineNumber);
    const std::vector<Word> words = Words(line, where);
    if (words.empty()) continue;
    const std::string& kind = words[0].text;
    if (kind == "picture") {
      if (words.size() != 4) throw ToolError(where + ": picture needs a file, a width and a height");
      PictureLayout p;
      p.file = words[1].text;
      p.width = Number(words[2], where);
      p.height = Number(words[3], where);
      if (p.width < 1 || p.height < 1 || p.width > 1024 || p.height > 1024) {
        throw ToolError(where + ": a picture's size must be 1 to 1024 pixels each way");
      }
      pictures.push_back(p);
      continue;
    }
    if (pictures.empty()) throw ToolError(std::string(where).append(": '").append(kind).append("' before any picture"));
    PictureLayout& p = pictures.back();
    if (kind == "halves") {
      if (words.size() != 2) throw ToolError(where + ": halves needs the rows of one look");
      p.halfRows = Number(words[1], where);
      if (p.halfRows < 1 || 2 * p.halfRows != p.height) {
        throw ToolError(where + ": two looks of " + words[1].text + " rows don't make the picture's " +
                        std::to_string(p.height) + " rows");
      }
      continue;
    }
    if (words.size() < 4) {
      throw ToolError(std::string(where).append(": '").append(kind).append("' needs a name, a first and a last"));
    }
    LayoutElement e;
    e.kind = kind;
    e.name = words[1].text;
    e.first = Number(words[2], where);
    e.last = Number(words[3], where);
    for (size_t i = 4; i < words.size(); ++i) {
      if (words[i].quoted) {
        e.text = words[i].text;
      } else if (e.icon.empty()) {
        e.icon = words[i].text;
      } else {
        throw ToolError(where + ": unexpected '" + words[i].text + "'");
      }
    }
    const bool byColumn = kind == "button" || kind == "logo" || kind == "badge";
    const int span = byColumn ? p.width : (p.halfRows > 0 ? p.halfRows : p.height);
    if (e.first < 0 || e.last < e.first || e.last >= span) {
      throw ToolError(where + ": " + e.name + " (" + words[2].text + " to " + words[3].text +
                      ") doesn't fit the picture's " + std::to_string(span) + (byColumn ? " columns" : " rows"));
    }
    p.elements.push_back(e);
  }
  return pictures;
}
