// Test hook of the stand-in: a hold that partition reads wait at.
#pragma once

namespace qvtd {
// Returns at once unless a hold is armed and its reads are used up; then waits until
// the hold is released.
void PassReadHold();
}  // namespace qvtd
