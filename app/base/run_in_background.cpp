#include "app/base/run_in_background.h"

#include "app/base/log.h"

namespace vesk {

Failure backgroundFailure(const std::exception_ptr& exception) {
  Failure failure = failureOf(exception);
  Log::app.error("background work: %s", failure.description.c_str());
  return failure;
}

}  // namespace vesk
