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

std::string mounted_name(const std::string& container_file_name, MountView view) {
    fs::path name(container_file_name);
    return (view == MountView::images ? name.replace_extension(".iso") : name.stem()).string();
}

namespace {

struct stat stat_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw std::runtime_error(path + ": " + std::strerror(errno));
    return st;
}

// The regular files of `folder`, sorted.
std::vector<fs::path> files_of(const std::string& folder) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_regular_file(type_ec)) files.push_back(it->path());
    }
    if (ec) throw std::runtime_error(folder + ": " + ec.message());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

MountSource open_mount_source(const std::vector<std::string>& sources, MountView view) {
    MountSource result{};
    const char* const kind = view == MountView::images ? "image" : "folder";
    std::map<std::string, MountedImage> by_name;
    std::map<std::string, std::uint64_t> sizes;
    // Takes the container at `path`; a file named on the command line must be sound, one found in a folder may not be.
    const auto take = [&](const std::string& path, const struct stat& st, bool named) {
        const std::string name = mounted_name(fs::path(path).filename().string(), view);
        if (const auto taken = by_name.find(name); taken != by_name.end()) {
            result.left_out.push_back(path + ": its " + kind + " name " + name + " is taken by " + taken->second.container);
            return;
        }
        if (named) {
            try {
                sizes.emplace(name, QivReader(path).size());
            } catch (const QivFormatError& e) {
                throw std::runtime_error(path + ": " + e.what());
            }
            by_name.emplace(name, MountedImage{name, path, st});
            return;
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
    };
    for (std::size_t k = 0; k < sources.size(); ++k) {
        const std::string& source = sources[k];
        const struct stat st = stat_of(source);
        if (k == 0) result.source_stat = st;
        if (!S_ISDIR(st.st_mode)) {
            take(source, st, true);
            continue;
        }
        for (const fs::path& file : files_of(source)) take(file.string(), st, false);
    }
    for (auto& [name, image] : by_name) {
        result.images.push_back(std::move(image));
        result.sizes.push_back(sizes.at(name));
    }
    return result;
}

}  // namespace qivpak
