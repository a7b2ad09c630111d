// SPDX-License-Identifier: GPL-3.0-or-later
/* The system calls a tag reader cannot avoid per MP3, and nothing else:
   open, the 10-byte ID3v2 header, the tag body, 2 KiB at the audio start,
   fstat, the last 143 bytes, close. Prints one byte per file so the work
   cannot be skipped. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    static unsigned char buf[1 << 20];
    unsigned sum = 0;
    for (int i = 1; i < argc; ++i) {
        int fd = open(argv[i], O_RDONLY);
        if (fd < 0)
            continue;
        unsigned char h[10];
        size_t body = 0;
        if (pread(fd, h, 10, 0) == 10 && h[0] == 'I' && h[1] == 'D' && h[2] == '3')
            body = ((size_t)(h[6] & 0x7f) << 21) | ((size_t)(h[7] & 0x7f) << 14) |
                   ((size_t)(h[8] & 0x7f) << 7) | (size_t)(h[9] & 0x7f);
        if (body > sizeof buf)
            body = sizeof buf;
        if (body)
            sum += (unsigned)pread(fd, buf, body, 10);
        sum += (unsigned)pread(fd, buf, 2048, (off_t)(10 + body));
        struct stat st;
        fstat(fd, &st);
        if (st.st_size >= 143)
            sum += (unsigned)pread(fd, buf, 143, st.st_size - 143);
        close(fd);
        sum += buf[0];
    }
    printf("%u\n", sum);
    return 0;
}
