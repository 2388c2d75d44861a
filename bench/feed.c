// SPDX-License-Identifier: Apache-2.0
/* feed <file> <program> [arguments...]
 *
 * Runs the program with the file as its standard input, so that hyperfine can
 * time a command that reads standard input without a shell. Linked statically:
 * it adds one small exec to the figure of the command it runs. */

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fputs("Usage: feed <file> <program> [arguments...]\n", stderr);
        return 2;
    }
    int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0 || dup2(fd, 0) < 0) {
        perror(argv[1]);
        return 127;
    }
    execv(argv[2], argv + 2);
    perror(argv[2]);
    return 127;
}
