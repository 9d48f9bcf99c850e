// container_hashes.hpp - the image hashes of many containers, one call for verify, report and rename
#pragma once

#include "qiv/image_hash.hpp"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace qiv {

// What a command knows of one container once it is hashed.
struct ContainerHashes {
    std::uint64_t size = 0;  // of the plain image
    ImageHashes hashes;
    bool from_cache = false;  // found in the hash cache: no frame was read
};

struct HashingOptions {
    unsigned threads = 0;     // the CPUs to use in all; 0: every CPU the process may run on
    bool use_cache = true;    // look the containers up in the hash cache and keep what is computed there
    std::FILE* warnings = stderr;  // where the cache's warnings go (one line each)
};

// Called once a container, in the order given, on the calling thread: with
// its hashes, or (hashes null) with why it could not be hashed (a damaged
// frame, a file that is no container, a folder).
using HashedFn =
    std::function<void(const std::string& file, const ContainerHashes* hashes, const std::exception* failure)>;

// Opens every container of `files`, checked exactly, and hashes its plain
// image. A container's failure is handed to `each` and the next one goes on.
// An interruption (Ctrl-C, SIGTERM) ends the pass with qivpak::Stopped, after
// the containers already handed on.
//
// With use_cache, a container whose size, modification time and identity
// match an entry of the hash cache (see hash_cache.hpp) is not read at all;
// the hashes of the others are kept there at the end, interrupted or not.
//
// One container keeps about two CPUs busy (MD5 and SHA-1 are serial; the
// reads and the CRC-32 fill in beside them), so with more CPUs than that
// several are hashed at once: CPUs / 2 passes, and 2 on two or three CPUs
// (one pass alone leaves gaps there), never more than there are containers
// to read; each pass gets CPUs / passes - 1 readers (at least 1), one
// container uses all of them. The calling thread hashes too; `each` still
// sees the containers in the order given.
void hash_containers(const std::vector<std::string>& files, const HashingOptions& options, const HashedFn& each);

}  // namespace qiv
