// The product route's checks and generated texts, shared by kelvane-pack and the build's
// host tool kelvane-archive: the product file's lines, its reading and checks by the module's
// own core, its paths against the payload tree, setup.ini, folders.ini and the documents.
// Portable; works on the strings it is given, never opens a file and never prints.
#pragma once

#include <string>
#include <vector>

#include "modules/standard/core/product.h"

namespace pack {

// The payload folder as it is packed: relative paths, '/' between parts, UTF-8.
struct PayloadTree {
    std::vector<std::string> files;
    std::vector<std::string> emptyFolders;  // folders holding nothing at all
};

// Every problem of a product file's text, one sentence each, in file order: its lines as
// the installer's key=value reader takes them (CR LF ends; at most 255 bytes, the rest
// would be dropped), then the core's check (KvReadProduct), which stops at its first. The
// line checks stop there: a file read wrongly would only give misleading sentences.
// product receives what was read; it is complete only when nothing was found.
std::vector<std::string> ReadProductFile(const std::string& text, KvProduct& product);

// Every SHORTCUTn target and icon, ICON and PATH of a product read whole that names
// nothing in the payload (ASCII case ignored), one sentence each.
std::vector<std::string> CheckProductPayload(const KvProduct& product, const PayloadTree& payload);

// The archive folder of the payload: "payload/" and PAYLOAD.
std::string PayloadFolder(const KvProduct& product);

// RCDATA 455 of a product installer and of its uninstaller.
std::string ProductSetupText(const KvProduct& product);

// folders.ini: FOLDERn=<path with '\'> for each empty folder, n from 1, CR LF. Empty text
// when there are none. False with the problem when a line would be cut by the reader.
bool FoldersText(const PayloadTree& payload, std::string& text, std::string& problem);

// The stub a product is packed with: "kelvane-user.exe" for SCOPE=user, else "kelvane.exe".
const char* ProductStubName(const KvProduct& product);

// Why a stub whose RT_MANIFEST is manifest cannot carry product, or "" when it can: a
// machine product's installer must ask for administrator rights (requireAdministrator),
// a per-user product's must not ask for any (no requireAdministrator, no highestAvailable).
std::string StubScopeProblem(const KvProduct& product, const std::string& manifest);

// A short RTF document naming the product, for a product packed without a licence or a
// health warning of its own: the installer's pages still show both.
std::string ProductDocument(const KvProduct& product, bool licence);

// Text for RTF: '\', '{' and '}' escaped, characters beyond ASCII as \uN? from UTF-8
// (invalid bytes as '?'), control characters dropped.
std::string RtfText(const std::string& utf8);

}  // namespace pack
