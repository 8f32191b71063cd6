// The tray agent arrives with the application shell; until then this entry point only says so,
// and never pretends to sync.
#include <cstdio>

int main() {
    std::fputs("spinforge: the tray agent is not built yet. Use scripts/run to start the development service.\n", stderr);
    return 0;
}
