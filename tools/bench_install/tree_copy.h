/* Copies a folder's tree with CopyFileW, as an installer's module or a person would. */
#ifndef BENCH_TREE_COPY_H
#define BENCH_TREE_COPY_H

#include <wchar.h>

/* Copies every file under from (sub-folders made) into to, which is made. Non-zero on
 * success; else what failed is in copyFailure. */
int CopyTree(const wchar_t *from, const wchar_t *to);
extern char copyFailure[512];

#endif
