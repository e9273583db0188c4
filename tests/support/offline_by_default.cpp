// Compiled into every test program: tests never reach a real market-data host, so online filling is
// off unless the environment already says otherwise (a test that exercises it sets TARNEL_ONLINE
// itself and points the providers at its own host on 127.0.0.1). Programs a test starts inherit it.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool offline_by_default = [] { return setenv("TARNEL_ONLINE", "0", 0) == 0; }();

}  // namespace
