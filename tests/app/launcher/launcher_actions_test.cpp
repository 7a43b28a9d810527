// Actions and sublists of the launcher controller.

#include "tests/app/launcher/launcher_fixture.h"

namespace vesk::test {
namespace {}  // namespace
}  // namespace vesk::test
