// The smallest program that binds Mivo the way Orvantis does: by ordinal.
// Its import table is checked, and under Wine it must load and run.
#include "mivo/mivo.h"

#include <cstdio>

int main() {
    MIVO_VerInfo info = {};
    MIVO_VerGetInformation(&info);
    std::printf("Mivo %d.%d.%d build %lu\n", info.major, info.minor, info.patch,
                static_cast<unsigned long>(info.build));
    return MIVO_VerVerify(3, 4, 0, 1) == 1 ? 0 : 1;
}
