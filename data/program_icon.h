// The programs' icon, drawn at build time by apexassets (tools/) from the same artwork as the
// installed icons, and linked into each program as the library apexgrid_icon.
#pragma once

#include "platform/window.h"

extern const WindowIcon kProgramIcon;
