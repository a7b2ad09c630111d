// SPDX-License-Identifier: GPL-3.0-or-later
/* The flush a safe in-place save ends with, and nothing else: open, read
   the first 64 bytes, write them back unchanged, fsync, close. Prints one
   number per run so the work cannot be skipped. */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
    unsigned sum = 0;
    for (int i = 1; i < argc; ++i) {
        int fd = open(argv[i], O_RDWR);
        if (fd < 0)
            continue;
        unsigned char b[64];
        ssize_t n = pread(fd, b, sizeof b, 0);
        if (n > 0 && pwrite(fd, b, (size_t)n, 0) == n && fsync(fd) == 0)
            sum += b[0];
        close(fd);
    }
    printf("%u\n", sum);
    return 0;
}
