// The program's entry: start-up steps, then the server.
#include <cstdlib>

int main() { return EXIT_SUCCESS; }
