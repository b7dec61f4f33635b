// peak_rss FD COMMAND [ARG...]: runs the command (standard streams inherited) and writes its
// peak resident memory in KiB to the open descriptor FD. A process forked from a large one (the
// Python timing script) is charged with the parent's memory before its exec; this small launcher is
// not.
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    const int fd = std::atoi(argv[1]);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
        return 127;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        return 127;
    }
    if (FILE* out = fdopen(fd, "w")) {
        std::fprintf(out, "%ld\n", usage.ru_maxrss);
        std::fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
