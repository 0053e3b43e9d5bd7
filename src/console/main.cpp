// Placeholder until the console exists.
#include <cstdio>
int main() { std::fputs("Vantoro: the console is not built yet\n", stderr); return 1; }
