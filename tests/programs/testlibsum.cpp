// A testlib checker for A+B, for the tests and benchmarks: they install it
// in a problem folder beside our stand-in testlib.h (minitestlib.h).
#include "testlib.h"
int main(int argc, char **argv) {
    registerTestlibCmd(argc, argv);
    const long long expected = ans.readLong(), found = ouf.readLong();
    if (expected != found) quitf(_wa, "expected %lld, found %lld", expected, found);
    quitf(_ok, "%lld", found);
}
