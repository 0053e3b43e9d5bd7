// Placeholder until the simulated meter exists.
#include <cstdio>
int main() { std::fputs("z960sim: not built yet\n", stderr); return 1; }
