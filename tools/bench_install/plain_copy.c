/* bench_plain_copy FROM TO: the tree copied with CopyFileW, nothing else. Exit 0 on success. */
#include <windows.h>

#include <stdio.h>

#include "tree_copy.h"

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) return 2;
    if (CopyTree(argv[1], argv[2])) return 0;
    fprintf(stderr, "%s\n", copyFailure);
    return 1;
}
