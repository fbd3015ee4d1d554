#include "raster/numeric.h"

#include <cmath>
#include <limits>

namespace zoka {

double SafeReciprocal(double x) {
    if (x > 1e-7 || x < -1e-7) return 1.0 / x;
    return x > 0 ? 1e7 : -1e7;
}

int HighestBit(int32_t n) {
    int bit = 0;
    while (n > 1) {
        n >>= 1;
        ++bit;
    }
    return bit;
}


}  // namespace zoka
