#include "driver/run.hpp"

// The program takes no arguments; any given are ignored.
int main() { sitewave::driver::run(); }
