// Motion Trail's choice of sweep, for its tests.
#pragma once

namespace zoka {

// Directions (degrees counter-clockwise from +x) nearer the vertical, bounds
// included, sweep rows; the others sweep columns.
bool TrailSweepsRows(double direction);

}  // namespace zoka
