// The layout of the data pictures, read from its text file in assets/.
#pragma once

#include <string>
#include <vector>

struct LayoutElement {
  std::string kind;  // button, logo, badge (by column); entry, heading, band, glyphs, wordmark, tagline, motif, keys
  std::string name;
  int first = 0;     // first column (bar buttons, logos) or row (everything else), included
  int last = 0;      // last one, included
  std::string icon;  // empty when the element has none
  std::string text;  // empty when the element has none
};

struct PictureLayout {
  std::string file;
  int width = 0;
  int height = 0;
  int halfRows = 0;  // rows of the normal look; 0 when the picture has one look
  std::vector<LayoutElement> elements;

  const LayoutElement* Find(const std::string& kind, const std::string& name) const;
};

// Reads the layout file. Throws ToolError naming the file and line of anything it can't read,
// and of elements that don't fit their picture.
std::vector<PictureLayout> ReadPictureLayouts(const std::string& path);
