// Turns a circuit description into a circuit: the picture (grass, asphalt, kerbs, the chequered
// line, the start box), the collision grid, and the start/finish points.
#pragma once

#include "tools/circuit_data.h"
#include "tools/track_plan.h"

// Everything off the asphalt is blocked; the start/finish line reaches two cells into the grass
// on either side; the start point lies plan.grid pixels past the line. Throws ToolError when the
// track leaves the picture, comes too close to itself, or bends tighter than half its width.
CircuitData BuildCircuit(const TrackPlan& plan);
