// Holds a file open as another program would (an editor, a viewer, a backup tool), for
// the save tests: `v38holdfile FILE SHARE MS` opens FILE for reading, lets other
// programs share what SHARE lists (r read, w write, d delete, - none), says "held" on
// its output and keeps the file open for MS milliseconds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: v38holdfile FILE SHARE MS\n", stderr);
        return 2;
    }
    DWORD share = 0;
    if (std::strchr(argv[2], 'r'))
        share |= FILE_SHARE_READ;
    if (std::strchr(argv[2], 'w'))
        share |= FILE_SHARE_WRITE;
    if (std::strchr(argv[2], 'd'))
        share |= FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("failed %lu\n", GetLastError());
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    Sleep(DWORD(std::strtoul(argv[3], nullptr, 10)));
    CloseHandle(file);
    return 0;
}
