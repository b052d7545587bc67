/* Compiles the public headers as C, as module authors will, with their layout
 * checks on a Windows target. Must stay plain C: no C++ includes, no test framework. */
#include "sdk/kelvane_install.h"
#include "sdk/kelvane_payload.h"
#include "sdk/quorvend_console.h"

/* A C module fills nothing in the block; it only reads it. */
const char *kelvane_sdk_header_check(const InstallHostInterface *host, const KeyValueNode *list) {
    return host->getValue(list, "KEY", 1);
}
