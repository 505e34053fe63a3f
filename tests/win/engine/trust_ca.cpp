// Adds a test root to the Root store of the prefix it runs in, or takes it
// out again, for programs that are not our tests (the whole program):
//   trust_ca add|remove CERTIFICATE.der
#include <cstdio>
#include <cstring>

#include "engine_test_support.h"

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "add") != 0 && strcmp(argv[1], "remove") != 0)) {
        fprintf(stderr, "usage: trust_ca add|remove CERTIFICATE.der\n");
        return 2;
    }
    const bool add = strcmp(argv[1], "add") == 0;
    if (!enginetest::TrustRoot(argv[2], add)) {
        fprintf(stderr, "trust_ca: could not %s %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
