#pragma once

#include "host/Outcome.h"
#include "host/ScopedWin.h"

#include <cstddef>
#include <string>

namespace qx {

// The SHA-256 digest of bytes given piece by piece, computed by the system's own provider.
class Sha256 {
public:
    // Fails when the system offers no SHA-256 (the provider cannot be had).
    Status Start();
    Status Add(const char* bytes, std::size_t size);
    // The digest's 32 bytes; no bytes can be added after it.
    Outcome<std::string> Finish();

private:
    UniqueCryptProvider provider_;
    UniqueCryptHash hash_;
};

} // namespace qx
