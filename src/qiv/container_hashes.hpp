// container_hashes.hpp - the image hashes of many containers, one call for verify, report and rename
#pragma once

#include "qiv/image_hash.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace qiv {

// What a command knows of one container once it is hashed.
struct ContainerHashes {
    std::uint64_t size = 0;  // of the plain image
    ImageHashes hashes;
};

struct HashingOptions {
    unsigned threads = 0;  // 0: every CPU the process may run on
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
void hash_containers(const std::vector<std::string>& files, const HashingOptions& options, const HashedFn& each);

}  // namespace qiv
