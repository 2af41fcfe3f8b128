// Inside the platform: the dialog's ImGui context and the device screen it is painted on, shared
// by the SDL window and the headless script loop. Nothing outside platform/ includes this.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dialog.h"

struct DialogCanvas;

// Makes the ImGui context (program.setUp adds the style and fonts), builds the font atlas, and
// makes the device-sized canvas. Null with the reason in *error when it can't.
DialogCanvas* OpenDialogCanvas(const DialogProgram& program, std::string* error);
void CloseDialogCanvas(DialogCanvas* canvas);

// One frame with the input as it stands: program.draw between NewFrame and Render, then the
// frame painted on the canvas. seconds: the time since the previous frame.
void DrawDialogFrame(DialogCanvas* canvas, const DialogProgram& program, double seconds);

// The canvas: 16-bit 5-6-5 pixels, rows top to bottom, pitch in pixels.
const uint16_t* CanvasPixels(const DialogCanvas* canvas, int* width, int* height, int* pitch);

// The canvas as a PNG file on a host path. 0 on success, 1 when it can't be written.
int WriteCanvasPng(const DialogCanvas* canvas, const std::string& hostPath);

// ---- Input, in device pixels -------------------------------------------------------------------

void DialogPen(int x, int y, bool down);
// The pointer has left the screen (the mouse left the window): nothing is hovered.
void DialogPenAway();
void DialogWheel(float steps);
// key: kDialogKeyUp or kDialogKeyDown.
void DialogKey(int key, bool down);

// The two loops.
int RunSdlDialog(const std::u16string& title, const DialogProgram& program, DialogCanvas* canvas,
                 std::string* error);
void RunHeadlessDialog(const DialogProgram& program, DialogCanvas* canvas);
