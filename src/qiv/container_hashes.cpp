// container_hashes.cpp - one container after the other, each read by every thread allowed
#include "qiv/container_hashes.hpp"

#include "io/cpu_count.hpp"
#include "io/interrupt.hpp"
#include "qiv/failure.hpp"

#include <qivpak/pack.hpp>

#include <algorithm>

namespace qiv {

void hash_containers(const std::vector<std::string>& files, const HashingOptions& options, const HashedFn& each) {
    const unsigned readers =
        std::min(options.threads != 0 ? options.threads : qivpak::available_cpus(), qivpak::MAX_WORKERS);
    const auto should_stop = [] { return qivpak::pending_interrupt() != 0; };
    for (const std::string& file : files) {
        ContainerHashes result;
        try {
            const qivpak::QivReader reader = open_container(file);
            result.size = reader.size();
            result.hashes = hash_image(reader, readers, should_stop);
        } catch (const qivpak::Stopped&) {
            throw;
        } catch (const std::exception& failure) {
            each(file, nullptr, &failure);
            continue;
        }
        each(file, &result, nullptr);
    }
}

}  // namespace qiv
