#include "core/base/wall_clock.h"

#include <chrono>

namespace vesk {

double secondsSince1970() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace vesk
