// pending_output.cpp - temporary outputs: a fresh hidden name, the flush, the rename, the removal
#include "qiv/pending_output.hpp"

#include "io/file.hpp"
#include "qiv/paths.hpp"

#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

namespace qiv {

namespace {

// Six letters or digits, different in every run and every call.
std::string random_suffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 generator{std::random_device()()};
    std::string suffix(6, ' ');
    for (char& c : suffix) c = kChars[generator() % (sizeof kChars - 1)];
    return suffix;
}

// The output's name as the temporary name holds it: whole when the temporary
// name ("." + it + ".part-XXXXXX", 13 bytes more) still fits the 255 bytes a
// file name may have, else cut to its first 240 bytes, at a character's start.
std::string name_part(const std::string& name) {
    constexpr std::size_t MAX_PART = 240;
    if (name.size() <= MAX_PART) return name;
    std::size_t cut = MAX_PART;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // not inside a UTF-8 sequence
    return name.substr(0, cut);
}

}  // namespace

void PendingOutput::remove_leftovers(const std::string& folder, const std::string& prefix) {
    std::error_code error;
    const std::filesystem::path where = to_path(folder.empty() ? "." : folder);
    for (std::filesystem::directory_iterator it(where, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = to_utf8(it->path().filename());
        if (entry.size() != prefix.size() + 6 || !entry.starts_with(prefix)) continue;
        const std::string path = folder + entry;
        if (qivpak::is_abandoned(path) && qivpak::remove_file(path)) removed_.push_back(path);
    }
}

PendingOutput::PendingOutput(std::string final_path) : final_(std::move(final_path)) {
    const std::string name = to_utf8(to_path(final_).filename());
    folder_ = final_.substr(0, final_.size() - name.size());
    prefix_ = "." + name_part(name) + ".part-";
    remove_leftovers(folder_, prefix_);
    unnamed_ = qivpak::UnnamedFile::create_in(folder_);
    if (unnamed_) {
        temp_ = unnamed_->path();
        return;
    }
    qivpak::IoStatus created;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = folder_ + prefix_ + random_suffix();
        claim_ = qivpak::ClaimedFile::create(temp_, created);
        if (!created.name_taken()) break;
    }
    if (!created.ok()) {
        temp_.clear();
        throw InputFailed("cannot create a temporary file beside " + final_ + ": " + created.reason());
    }
}

PendingOutput::~PendingOutput() {
    if (placed_ || temp_.empty() || unnamed_) return;  // an unnamed file goes with its descriptor
    qivpak::remove_file(temp_);
}

void PendingOutput::put_in_place(bool replace) {
    const qivpak::IoStatus flushed = qivpak::flush_to_device(temp_);
    if (!flushed.ok()) throw InputFailed("cannot write " + final_ + " to the device: " + flushed.reason());
    if (unnamed_) return name_in_place(replace);
    const qivpak::IoStatus renamed = qivpak::rename_into_place(temp_, final_, replace);
    if (renamed.name_taken() && !replace) throw InputFailed(final_ + " appeared meanwhile and is left as it is");
    if (!renamed.ok()) throw InputFailed("cannot rename the finished output to " + final_ + ": " + renamed.reason());
    placed_ = true;
}

void PendingOutput::name_in_place(bool replace) {
    if (!replace) {
        const qivpak::IoStatus named = unnamed_->name_as(final_);
        if (named.name_taken()) throw InputFailed(final_ + " appeared meanwhile and is left as it is");
        if (!named.ok()) throw InputFailed("cannot give the finished output the name " + final_ + ": " + named.reason());
        placed_ = true;
        return;
    }
    // Replacing takes a hidden name first, then the output's in one step over the old file.
    qivpak::IoStatus named;
    std::string hidden;
    for (int attempt = 0; attempt < 100; ++attempt) {
        hidden = folder_ + prefix_ + random_suffix();
        named = unnamed_->name_as(hidden);
        if (!named.name_taken()) break;
    }
    if (!named.ok()) throw InputFailed("cannot give the finished output a name beside " + final_ + ": " + named.reason());
    const qivpak::IoStatus renamed = qivpak::rename_into_place(hidden, final_, true);
    if (!renamed.ok()) {
        qivpak::remove_file(hidden);
        throw InputFailed("cannot rename the finished output to " + final_ + ": " + renamed.reason());
    }
    placed_ = true;
}

}  // namespace qiv
