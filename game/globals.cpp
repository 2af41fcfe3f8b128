// Definitions of the program-wide objects, in one place so that their order is fixed: the
// pictures are made first and the game state last, and they go in the reverse order at exit.
#include "game/globals.h"

Picture framePicture;
Picture boardPicture;
Picture menuBarPicture;
Picture goButtonPicture;
Picture menuPicture;
Picture subMenuPicture;
Picture titlePicture;
Picture digitsPicture;
Picture badgePicture;
GameState gameState;

// Plain data with no construction step, so its place in the order doesn't matter.
GXKeyList keyList;
WindowHandle mainWindow = nullptr;
