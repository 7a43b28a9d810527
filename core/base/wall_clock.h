#pragma once
// WallClock: "now" in seconds since 1970, the time clips and launches are stamped with.
// Components that stamp or compare times take one, so that tests can fix "now"; the
// default everywhere is the system clock. A WallClock must be callable from any thread.

#include <functional>

namespace vesk {

using WallClock = std::function<double()>;

// The system clock.
double secondsSince1970();

}  // namespace vesk
