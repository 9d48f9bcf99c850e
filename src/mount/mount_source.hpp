// mount_source.hpp - the images a mount serves: one container, or every container in a folder
#pragma once

#include <qivpak/reader.hpp>

#include <ctime>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qivpak {

// One image at the mount point.
struct MountedImage {
    std::string name;       // file name at the mount point (see image_name)
    std::string container;  // path of the container it is read from
    struct stat container_stat;  // the container's own stat: times, owner
};

struct MountSource {
    struct stat source_stat;            // of SOURCE itself: the mount point's times and owner
    std::vector<MountedImage> images;   // sorted by name
    std::vector<std::uint64_t> sizes;   // sizes[i]: bytes of images[i]'s plain image
    std::vector<std::string> left_out;  // "PATH: why", one for each file of a folder not served
};

// The name an image gets at the mount point: the container's file name with
// its extension replaced by ".iso", or with ".iso" appended when it has none.
std::string image_name(const std::string& container_file_name);

// Opens SOURCE: a container, or a folder whose regular files (symbolic links
// to them included, subfolders not) are tried as containers. In a folder, a
// file that is not a container, whose index is damaged, that cannot be read
// or whose image name another container has already taken is left out and
// listed in left_out (with the system's reason when it cannot be opened). Each
// container is opened, checked and closed again: a mount opens them when they
// are read. Throws QivFormatError when SOURCE is a file that is not a sound
// container, and std::runtime_error when SOURCE cannot be read.
MountSource open_mount_source(const std::string& source);

}  // namespace qivpak
