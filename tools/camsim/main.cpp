// lanrove-camsim: simulated cameras for the tests and the demo.
#include <cstdio>

int main() {
    std::fprintf(stderr, "lanrove-camsim: no fleet support yet\n");
    return 2;
}
