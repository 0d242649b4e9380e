#pragma once

#include <cstddef>
#include <string>

#include "Runtime/Bytes.hpp"

namespace quib {

// Bytes from the system's secure random source. A source that fails stops the process with
// `fatalMessage`: a partial or predictable key is never returned.
Bytes secureRandomBytes(std::size_t count, const char* fatalMessage = "Secure random source failed");

// The text form of a new random (version 4) UUID: 36 characters, upper-case hexadecimal with hyphens.
std::string newUuidString();

}  // namespace quib
