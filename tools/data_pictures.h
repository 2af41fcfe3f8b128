// The six data pictures of the game, drawn from their layout.
#pragma once

#include <string>
#include <vector>

#include "tools/canvas.h"
#include "tools/picture_layout.h"

// The transparent key of the digit strip: pixels of this colour are not copied.
Rgb DigitKeyRgb();

// Draws one picture of the layout. fontFolder holds the Liberation TrueType files. Throws
// ToolError for a picture or an icon it doesn't know.
std::vector<uint16_t> DrawDataPicture(const PictureLayout& layout, const std::string& fontFolder);

// Draws every picture and writes each as a picture file into outFolder (created if missing).
void WriteDataPictures(const std::vector<PictureLayout>& layouts, const std::string& fontFolder,
                       const std::string& outFolder);

// Motifs shared with the circuit artwork.
// A racing car seen from above, nose pointing along angle (radians, 0 = right, y down).
void DrawCar(Canvas& canvas, Point centre, float angle, float length, Rgb body);
// A chequered band of squares, two rows high, over the rectangle.
void DrawChequer(Canvas& canvas, int left, int top, int right, int square, Rgb dark, Rgb light);
