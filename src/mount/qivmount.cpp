// qivmount.cpp - the qivmount command: QIV containers shown as read-only disc images, or their discs' files, through FUSE
//
// The image view is flat: its root lists one regular file per image. Reads
// go to the ImageCache; everything else is answered from what
// open_mount_source found before mounting. The files view (--files) lists one
// folder per container, holding its disc's tree, looked up and read through
// DiscFiles over the same cache. Nothing is ever written.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include "mount/disc_files.hpp"
#include "mount/image_cache.hpp"
#include "mount/mount_source.hpp"
#include "io/cpu_count.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

namespace {

using qivpak::DiscEntry;
using qivpak::EntryKind;
using qivpak::ImageCache;
using qivpak::MountedImage;

constexpr const char* kUsage =
    "usage: qivmount [-f] [-o OPTIONS] SOURCE MOUNTPOINT\n"
    "       qivmount --files [-f] [-o OPTIONS] SOURCE... MOUNTPOINT\n"
    "Shows the QIV container SOURCE, or every container in the folder SOURCE, as\n"
    "read-only disc images at MOUNTPOINT. Unmount with: fusermount3 -u MOUNTPOINT\n"
    "\n"
    "  --files            show each container as a read-only folder of its disc's\n"
    "                     files, named after the container without its extension\n"
    "  -f                 stay in the foreground\n"
    "  -o cache_mib=N     MiB of inflated frames kept (default 16, 0 for none)\n"
    "  -o threads=N       threads inflating frames (default: one per CPU)\n"
    "  -o OPTION[,...]    FUSE mount options (allow_other, max_read=N, ...)\n"
    "  -d                 print every FUSE request (implies -f)\n"
    "  -h, --help         print this text\n"
    "  -V, --version      print the version\n";

struct Settings {
    unsigned cache_mib = 16;
    unsigned threads = 0;  // 0: one per CPU
    unsigned max_read = 0;  // -o max_read=N, which libfuse also takes
    bool foreground = false;
    bool help = false;
    bool version = false;
    bool files = false;
    std::vector<std::string> names;  // the SOURCEs, then MOUNTPOINT
};

enum Key { key_foreground, key_debug, key_help, key_version, key_files };

const fuse_opt kOptions[] = {
    {"cache_mib=%u", offsetof(Settings, cache_mib), 0},
    {"threads=%u", offsetof(Settings, threads), 0},
    {"max_read=%u", offsetof(Settings, max_read), 0},
    FUSE_OPT_KEY("max_read=", FUSE_OPT_KEY_KEEP),
    FUSE_OPT_KEY("-f", key_foreground),
    FUSE_OPT_KEY("-d", key_debug),
    FUSE_OPT_KEY("debug", key_debug),
    FUSE_OPT_KEY("-h", key_help),
    FUSE_OPT_KEY("--help", key_help),
    FUSE_OPT_KEY("-V", key_version),
    FUSE_OPT_KEY("--version", key_version),
    FUSE_OPT_KEY("--files", key_files),
    FUSE_OPT_END,
};

// Returns 0 to drop the argument, 1 to hand it on to libfuse.
int take_option(void* data, const char* arg, int key, fuse_args*) {
    Settings& s = *static_cast<Settings*>(data);
    switch (key) {
    case FUSE_OPT_KEY_NONOPT:
        s.names.emplace_back(arg);
        return 0;
    case key_files: s.files = true; return 0;
    case key_foreground: s.foreground = true; return 0;
    case key_debug: s.foreground = true; return 1;
    case key_help: s.help = true; return 0;
    case key_version: s.version = true; return 0;
    default: return 1;
    }
}

// A file of the files view, open.
struct OpenFile {
    std::size_t image;
    DiscEntry entry;
};

// What the FUSE callbacks see.
struct Mount {
    std::vector<MountedImage> images;
    struct stat root_stat;
    std::map<std::string, std::size_t> by_path;  // "/name" -> index in images
    std::vector<std::uint64_t> sizes;            // of the images, until the cache takes them
    std::size_t max_open = 1;                    // containers the cache keeps open at once
    std::unique_ptr<ImageCache> cache;           // made after detaching: threads do not survive the fork
    unsigned max_read = 0;                       // as given with -o max_read=N
    // The files view: the discs' roots (images[i]'s at roots[i]), their tree, and the files open.
    std::vector<DiscEntry> roots;
    std::unique_ptr<qivpak::DiscFiles> files;    // made with the cache
    std::mutex open_mutex;
    std::map<std::uint64_t, std::shared_ptr<const OpenFile>> open_files;  // by handle; guarded by open_mutex
    std::uint64_t next_handle = 0;                                         // guarded by open_mutex
};

Mount& mount() { return *static_cast<Mount*>(fuse_get_context()->private_data); }

int find_image(const char* path) {
    const auto& by_path = mount().by_path;
    const auto it = by_path.find(path);
    return it == by_path.end() ? -1 : static_cast<int>(it->second);
}

// libfuse ends the mount unless init asks for the read size that the options gave.
void* init_mount(fuse_conn_info* conn, fuse_config* config) {
    Mount& m = mount();
    conn->max_read = m.max_read;
    if (m.files) {
        // A disc never changes while it is mounted: the kernel may keep what it looked up.
        config->entry_timeout = config->attr_timeout = config->negative_timeout = 3600;
    }
    return &m;
}

int get_attr(const char* path, struct stat* st, fuse_file_info*) {
    Mount& m = mount();
    *st = {};
    const struct stat* own = &m.root_stat;
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
    } else {
        const int i = find_image(path);
        if (i < 0) return -ENOENT;
        own = &m.images[static_cast<std::size_t>(i)].container_stat;
        // The container's read permissions, checked by the kernel (default_permissions):
        // whoever may not read a container may not read its image either.
        st->st_mode = S_IFREG | (own->st_mode & 0444);
        st->st_nlink = 1;
        st->st_size = static_cast<off_t>(m.cache->image_size(static_cast<std::size_t>(i)));
        st->st_blocks = (st->st_size + 511) / 512;
    }
    st->st_uid = own->st_uid;
    st->st_gid = own->st_gid;
    st->st_atim = own->st_atim;
    st->st_mtim = own->st_mtim;
    st->st_ctim = own->st_ctim;
    return 0;
}

int read_dir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    if (std::strcmp(path, "/") != 0) return -ENOTDIR;
    fill(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const MountedImage& image : mount().images) fill(buf, image.name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int open_file(const char* path, fuse_file_info* fi) {
    const int i = find_image(path);
    if (i < 0) return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC)) return -EACCES;
    fi->fh = static_cast<std::uint64_t>(i);
    fi->keep_cache = 1;  // an image never changes while it is mounted
    return 0;
}

int read_file(const char*, char* buf, std::size_t size, off_t offset, fuse_file_info* fi) {
    if (offset < 0) return -EINVAL;
    try {
        return static_cast<int>(mount().cache->read(fi->fh, static_cast<std::uint64_t>(offset), buf, size));
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;  // a damaged frame: never hand out bytes that may be wrong
    }
}

int refuse_write(const char*, const char*, std::size_t, off_t, fuse_file_info*) { return -EROFS; }

// The files view. Every callback maps what it throws to an errno: a damaged
// frame or an unreadable folder is EIO, never a wrong byte.
template <typename Call>
int guarded(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;
    }
}

// The container and the disc entry at `path` ("/NAME/A/b.txt"); -1 when there is none.
int find_entry(const char* path, DiscEntry& entry) {
    const std::string_view rest(path + 1);
    const std::size_t slash = rest.find('/');
    const int i = find_image(std::string("/").append(rest.substr(0, slash)).c_str());
    if (i < 0) return -1;
    auto found = mount().files->find(static_cast<std::size_t>(i),
                                     slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash));
    if (!found) return -1;
    entry = std::move(*found);
    return i;
}

// Modes from Rock Ridge where the disc has them, else 0444 files and 0555
// folders; never a write bit, and no read bit that the container lacks.
int files_get_attr(const char* path, struct stat* st, fuse_file_info*) {
    if (std::strcmp(path, "/") == 0) return get_attr(path, st, nullptr);
    return guarded([&] {
        DiscEntry entry;
        const int i = find_entry(path, entry);
        if (i < 0) return -ENOENT;
        const struct stat& own = mount().images[static_cast<std::size_t>(i)].container_stat;
        const bool folder = entry.kind == EntryKind::folder;
        const mode_t type = folder ? S_IFDIR : entry.kind == EntryKind::symlink ? S_IFLNK : S_IFREG;
        const mode_t bits = entry.mode ? static_cast<mode_t>(*entry.mode) : folder ? 0555 : 0444;
        *st = {};
        st->st_mode = type | (bits & 0555 & ((own.st_mode & 0444) | 0111));
        st->st_nlink = folder ? 2 : 1;
        st->st_size = static_cast<off_t>(entry.kind == EntryKind::symlink ? entry.target.size() : entry.size);
        st->st_blocks = (st->st_size + 511) / 512;
        st->st_uid = own.st_uid;
        st->st_gid = own.st_gid;
        st->st_mtim.tv_sec = st->st_atim.tv_sec = st->st_ctim.tv_sec = static_cast<time_t>(entry.mtime);
        return 0;
    });
}

int files_read_dir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    if (std::strcmp(path, "/") == 0) return read_dir(path, buf, fill, 0, nullptr, fuse_readdir_flags{});
    return guarded([&] {
        DiscEntry entry;
        const int i = find_entry(path, entry);
        if (i < 0) return -ENOENT;
        if (entry.kind != EntryKind::folder) return -ENOTDIR;
        const qivpak::DiscFiles::Listing listing = mount().files->list(static_cast<std::size_t>(i), entry);
        fill(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
        fill(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
        for (const DiscEntry& e : *listing) fill(buf, e.name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
        return 0;
    });
}

int files_read_link(const char* path, char* buf, std::size_t size) {
    return guarded([&] {
        DiscEntry entry;
        if (find_entry(path, entry) < 0) return -ENOENT;
        if (entry.kind != EntryKind::symlink) return -EINVAL;
        if (size == 0) return -EINVAL;
        const std::size_t n = std::min(size - 1, entry.target.size());
        std::memcpy(buf, entry.target.data(), n);
        buf[n] = '\0';
        return 0;
    });
}

int files_open(const char* path, fuse_file_info* fi) {
    return guarded([&] {
        DiscEntry entry;
        const int i = find_entry(path, entry);
        if (i < 0) return -ENOENT;
        if (entry.kind == EntryKind::folder) return -EISDIR;
        if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC)) return -EACCES;
        Mount& m = mount();
        std::lock_guard lock(m.open_mutex);
        fi->fh = m.next_handle++;
        m.open_files.emplace(fi->fh, std::make_shared<const OpenFile>(OpenFile{static_cast<std::size_t>(i), std::move(entry)}));
        fi->keep_cache = 1;  // a disc never changes while it is mounted
        return 0;
    });
}

int files_release(const char*, fuse_file_info* fi) {
    Mount& m = mount();
    std::lock_guard lock(m.open_mutex);
    m.open_files.erase(fi->fh);
    return 0;
}

// A read that the image cannot complete (it ends before the file does) is EIO too.
int files_read(const char*, char* buf, std::size_t size, off_t offset, fuse_file_info* fi) {
    if (offset < 0) return -EINVAL;
    return guarded([&] {
        Mount& m = mount();
        std::shared_ptr<const OpenFile> file;
        {
            std::lock_guard lock(m.open_mutex);
            file = m.open_files.at(fi->fh);
        }
        const auto at = static_cast<std::uint64_t>(offset);
        return static_cast<int>(m.files->read(file->image, file->entry, at, buf, size));
    });
}

fuse_operations operations(bool files) {
    fuse_operations ops{};
    ops.init = init_mount;
    ops.getattr = files ? files_get_attr : get_attr;
    ops.readdir = files ? files_read_dir : read_dir;
    ops.open = files ? files_open : open_file;
    ops.read = files ? files_read : read_file;
    ops.write = refuse_write;
    if (files) {
        ops.readlink = files_read_link;
        ops.release = files_release;
    }
    return ops;
}

// How many containers may be open at once: the process's limit on open files,
// raised to the most it may have, less room for FUSE and the standard files,
// halved for the reads that keep a container open while the cache has closed it.
std::size_t open_files_allowed() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlimit raised{limit.rlim_max, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    const rlim_t allowed = limit.rlim_cur == RLIM_INFINITY ? 1 << 20 : limit.rlim_cur;
    return allowed > 96 ? static_cast<std::size_t>((allowed - 64) / 2) : 16;
}

// The mount point must be an empty folder: a mount hides what a folder holds,
// and a file is no place to mount a folder of images on. Throws with the reason.
void check_mount_point(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) throw std::runtime_error(path + ": " + error.message());
    if (!std::filesystem::is_directory(status)) throw std::runtime_error(path + ": the mount point is not a folder");
    if (!std::filesystem::is_empty(path, error) || error)
        throw std::runtime_error(path + ": " + (error ? error.message() : "the mount point is not empty"));
}

// Entries of listed folders the files view keeps (a few MiB).
constexpr std::size_t kFolderEntriesKept = 1 << 16;

// The files view shows the containers whose image reads as an ISO 9660 disc;
// the others are left out with a warning that says why.
void keep_discs(Mount& state) {
    std::vector<MountedImage> images;
    std::vector<std::uint64_t> sizes;
    for (std::size_t i = 0; i < state.images.size(); ++i) {
        try {
            const qivpak::QivReader reader(state.images[i].container);
            state.roots.push_back(qivpak::DiscTree(reader).root());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "qivmount: leaving out %s: %s\n", state.images[i].container.c_str(), e.what());
            continue;
        }
        images.push_back(std::move(state.images[i]));
        sizes.push_back(state.sizes[i]);
    }
    state.images = std::move(images);
    state.sizes = std::move(sizes);
    if (state.images.empty()) throw std::runtime_error("no container holds an ISO 9660 disc");
}

// Mounts, detaches unless asked not to, serves until unmounted. Returns the exit status.
int serve(fuse_args& args, const Settings& settings, Mount& state) {
    const fuse_operations ops = operations(settings.files);
    fuse* fs = fuse_new(&args, &ops, sizeof ops, &state);
    if (fs == nullptr) return 1;
    int status = 1;
    if (fuse_mount(fs, settings.names.back().c_str()) == 0) {
        if (fuse_daemonize(settings.foreground ? 1 : 0) == 0 &&
            fuse_set_signal_handlers(fuse_get_session(fs)) == 0) {
            std::vector<std::string> paths;
            for (const MountedImage& image : state.images) paths.push_back(image.container);
            state.cache = std::make_unique<ImageCache>(qivpak::ReaderShelf(std::move(paths), std::move(state.sizes),
                                                                           state.max_open),
                                                       std::size_t{settings.cache_mib} << 20,
                                                       settings.threads != 0 ? settings.threads : qivpak::available_cpus());
            if (settings.files)
                state.files = std::make_unique<qivpak::DiscFiles>(*state.cache, std::move(state.roots), kFolderEntriesKept);
            status = fuse_loop_mt(fs, 0) == 0 ? 0 : 1;
            fuse_remove_signal_handlers(fuse_get_session(fs));
        }
        fuse_unmount(fs);
    }
    fuse_destroy(fs);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    Settings settings;
    if (fuse_opt_parse(&args, &settings, kOptions, take_option) != 0) return 1;
    if (settings.help || settings.version) {
        std::fputs(settings.help ? kUsage : "qivmount " QIVPAK_VERSION "\n", stdout);
        fuse_opt_free_args(&args);
        return 0;
    }
    if (settings.names.size() < 2 || (!settings.files && settings.names.size() > 2)) {
        std::fputs(kUsage, stderr);
        fuse_opt_free_args(&args);
        return 1;
    }
    // Read only, with the kernel checking the files' modes.
    fuse_opt_add_arg(&args, "-oro,default_permissions,fsname=qivmount,subtype=qivmount");

    int status = 1;
    try {
        const std::size_t max_open = open_files_allowed();  // first: raises the limit for everything after
        const std::vector<std::string> sources(settings.names.begin(), settings.names.end() - 1);
        qivpak::MountSource source = qivpak::open_mount_source(
            sources, settings.files ? qivpak::MountView::files : qivpak::MountView::images);
        for (const std::string& why : source.left_out) std::fprintf(stderr, "qivmount: leaving out %s\n", why.c_str());
        // Arguments given the wrong way round would mount nothing over a library, or mount onto a file.
        if (source.images.empty()) throw std::runtime_error(sources.front() + ": no container found");
        check_mount_point(settings.names.back());
        Mount state{std::move(source.images), source.source_stat, {}, std::move(source.sizes), max_open,
                    {}, settings.max_read, {}, {}, {}, {}, 0};
        if (settings.files) keep_discs(state);
        // Detaching leaves the working folder: the containers are opened by absolute paths.
        for (MountedImage& image : state.images) image.container = std::filesystem::absolute(image.container).string();
        for (std::size_t i = 0; i < state.images.size(); ++i) state.by_path.emplace("/" + state.images[i].name, i);
        status = serve(args, settings, state);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qivmount: %s\n", e.what());
    }
    fuse_opt_free_args(&args);
    return status;
}
