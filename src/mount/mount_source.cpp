// mount_source.cpp - finding and opening the containers a mount serves
#include "mount/mount_source.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>

namespace qivpak {

namespace fs = std::filesystem;

std::string image_name(const std::string& container_file_name) {
    return fs::path(container_file_name).replace_extension(".iso").string();
}

namespace {

struct stat stat_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw std::runtime_error(path + ": " + std::strerror(errno));
    return st;
}

}  // namespace

MountSource open_mount_source(const std::string& source) {
    MountSource result{stat_of(source), {}, {}, {}};
    if (!S_ISDIR(result.source_stat.st_mode)) {
        result.sizes.push_back(QivReader(source).size());
        result.images.push_back({image_name(fs::path(source).filename().string()), source, result.source_stat});
        return result;
    }

    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_regular_file(type_ec)) files.push_back(it->path());
    }
    if (ec) throw std::runtime_error(source + ": " + ec.message());
    std::sort(files.begin(), files.end());

    std::map<std::string, MountedImage> by_name;
    std::map<std::string, std::uint64_t> sizes;
    for (const fs::path& file : files) {
        const std::string path = file.string();
        const std::string name = image_name(file.filename().string());
        if (const auto taken = by_name.find(name); taken != by_name.end()) {
            result.left_out.push_back(path + ": its image name " + name + " is taken by " + taken->second.container);
            continue;
        }
        try {
            const std::uint64_t size = QivReader(path).size();
            by_name.emplace(name, MountedImage{name, path, stat_of(path)});
            sizes.emplace(name, size);
        } catch (const QivFormatError& e) {
            // The reader's words do not say why a file did not open; the system does.
            const int error = errno;
            result.left_out.push_back(path + ": " + e.what() +
                                      (e.fault() == ContainerFault::cannot_open ? std::string(": ") + std::strerror(error)
                                                                                 : std::string()));
        } catch (const std::exception& e) {
            result.left_out.push_back(path + ": " + e.what());
        }
    }
    for (auto& [name, image] : by_name) {
        result.images.push_back(std::move(image));
        result.sizes.push_back(sizes.at(name));
    }
    return result;
}

}  // namespace qivpak
