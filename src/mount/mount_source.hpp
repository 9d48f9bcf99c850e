// mount_source.hpp - what a mount serves: containers named on the command line, or every container in a folder
#pragma once

#include <qivpak/reader.hpp>

#include <ctime>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qivpak {

// How a mount shows its containers: each as its disc image, or as a folder of its disc's files.
enum class MountView { images, files };

// One container at the mount point.
struct MountedImage {
    std::string name;       // its name at the mount point (see mounted_name)
    std::string container;  // path of the container it is read from
    struct stat container_stat;  // the container's own stat: times, owner
};

struct MountSource {
    struct stat source_stat;            // of the first SOURCE: the mount point's times and owner
    std::vector<MountedImage> images;   // sorted by name
    std::vector<std::uint64_t> sizes;   // sizes[i]: bytes of images[i]'s plain image
    std::vector<std::string> left_out;  // "PATH: why", one for each file of a folder not served
};

// The name a container gets at the mount point. Images: the container's file
// name with its extension replaced by ".iso", or with ".iso" appended when it
// has none. Files: the file name without its extension.
std::string mounted_name(const std::string& container_file_name, MountView view);

// Opens each SOURCE: a container, or a folder whose regular files (symbolic
// links to them included, subfolders not) are tried as containers. In a
// folder, a file that is not a container, whose index is damaged or that
// cannot be read is left out and listed in left_out (with the system's reason
// when it cannot be opened); so is any container whose name at the mount
// point another has already taken (sources in the order given, a folder's
// files in sorted order). Each container is opened, checked and closed again:
// a mount opens them when they are read. Throws QivFormatError when a SOURCE
// is a file that is not a sound container, and std::runtime_error when a
// SOURCE cannot be read.
MountSource open_mount_source(const std::vector<std::string>& sources, MountView view);

}  // namespace qivpak
