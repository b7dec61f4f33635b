#include "driver/run.hpp"
#include "textio/pending.hpp"

// The program takes no arguments; any given are ignored.
int main() {
    sitewave::textio::install_signal_handlers();
    sitewave::driver::run();
}
