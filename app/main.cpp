#include <cstdio>
int main() { std::puts("h8sxwriter " H8SXWRITER_VERSION); return 0; }
