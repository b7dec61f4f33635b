// io_floor KIB RECORD FILE SIZE [FILE SIZE ...]: the part of a run no computation can save, on
// this machine. Reads the record file, touches KIB KiB of fresh memory (what the run's arrays
// take), and writes each result file of SIZE bytes to a temporary file renamed over FILE, as
// the program does. Timed like the program, it is the floor of a case's wall time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3 || (argc - 3) % 2 != 0) {
        return 2;
    }
    const std::size_t fresh = std::strtoul(argv[1], nullptr, 10) * 1024;
    std::vector<char> block(1 << 16, 'x');
    const int in = ::open(argv[2], O_RDONLY);
    if (in < 0) {
        return 1;
    }
    while (::read(in, block.data(), block.size()) > 0) {
    }
    ::close(in);
    auto* memory = static_cast<volatile char*>(std::malloc(fresh + 1));
    for (std::size_t i = 0; i < fresh; i += 4096) {
        memory[i] = 1;
    }
    for (int f = 3; f + 1 < argc; f += 2) {
        const std::string temp = std::string(".") + argv[f] + ".floor";
        const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (out < 0) {
            return 1;
        }
        for (long left = std::atol(argv[f + 1]); left > 0;) {
            const long n =
                left < static_cast<long>(block.size()) ? left : static_cast<long>(block.size());
            if (::write(out, block.data(), static_cast<std::size_t>(n)) != n) {
                return 1;
            }
            left -= n;
        }
        if (::close(out) != 0 || std::rename(temp.c_str(), argv[f]) != 0) {
            return 1;
        }
    }
    return memory[fresh / 2] == 2 ? 1 : 0;
}
