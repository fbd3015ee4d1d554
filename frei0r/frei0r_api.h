// The frei0r interface (Debian's frei0r-plugins-dev), whose header declares
// its functions without C linkage for C++.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif
#include <frei0r.h>
#ifdef __cplusplus
}
#endif
