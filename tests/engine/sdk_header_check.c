/* Compiles the install-module header as C, as module authors will.
 * Must stay plain C: no C++ includes, no test framework. */
#include "sdk/kelvane_install.h"

/* A C module fills nothing in the block; it only reads it. */
const char *kelvane_sdk_header_check(const InstallHostInterface *host, const KeyValueNode *list) {
    return host->getValue(list, "KEY", 1);
}
