// A testlib-style interactor for the tests and benchmarks: the program
// guesses the number the input holds (1 to 10^9), told "<", ">" or "=" after
// each guess, at most 100 guesses. The number of guesses goes to the output
// for the checker. Installed in a problem folder beside our stand-in
// testlib.h (minitestlib.h).
#include "testlib.h"
int main(int argc, char **argv) {
    registerInteraction(argc, argv);
    const long long secret = inf.readLong();
    for (int guesses = 1; guesses <= 100; ++guesses) {
        const long long guess = ouf.readLong();
        if (guess == secret) {
            std::printf("=\n");
            std::fflush(stdout);
            std::fprintf(tout, "%d\n", guesses);
            quitf(_ok, "%d guesses", guesses);
        }
        std::printf(guess < secret ? ">\n" : "<\n");
        std::fflush(stdout);
    }
    quitf(_wa, "more than 100 guesses");
}
