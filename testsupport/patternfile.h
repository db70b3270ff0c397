#pragma once
// Files for transfer tests and benchmarks whose every 8 bytes hold a value
// made from their own offset, so that a byte lost, doubled or moved changes
// the file's digest.
#include <cstdint>
#include <string>

namespace kv::test {

// A whole file of size bytes (POSIX path), replacing what was there.
void WritePatternFile(const std::string& posixPath, int64_t size);
// A sparse file of size bytes: holes, with a patterned MiB at the start,
// one across the 4 GiB line (when the file reaches it) and one at the end.
void WriteSparsePatternFile(const std::string& posixPath, int64_t size);
// Cuts or extends a file (POSIX path).
void ResizeFile(const std::string& posixPath, int64_t size);
// The SHA-256 of a file (hex), as openssl computes it.
std::string Sha256OfFile(const std::string& posixPath);

}  // namespace kv::test
