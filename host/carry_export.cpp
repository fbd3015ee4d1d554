// The export through which a host lends its motion carry to the calls it
// makes on a thread.
#include "host/time_integration.h"
#include "interface/module_exports.h"

extern "C" ZOKA_EXPORT ZokaMotionCarry* ZokaLendMotionCarry(ZokaMotionCarry* carry) {
    return zoka::LendMotionCarry(carry);
}
