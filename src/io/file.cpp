// file.cpp - the system-independent half of the file wrapper: ownership and the write queue
#include "io/file.hpp"

#include <algorithm>
#include <utility>

namespace qivpak {

File::File(Native native, bool writable, bool crlf) : native_(native), crlf_(crlf) {
    if (writable) pending_.reserve(BUFFER_SIZE);
}

File::File(File&& other) noexcept
    : native_(std::exchange(other.native_, NO_FILE)),
      failed_(other.failed_),
      failure_(other.failure_.load()),
      crlf_(other.crlf_),
      append_(other.append_),
      regular_(other.regular_),
      position_(other.position_),
      pending_(std::move(other.pending_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        native_ = std::exchange(other.native_, NO_FILE);
        failed_ = other.failed_;
        failure_ = other.failure_.load();
        crlf_ = other.crlf_;
        append_ = other.append_;
        regular_ = other.regular_;
        position_ = other.position_;
        pending_ = std::move(other.pending_);
    }
    return *this;
}

File::~File() { close(); }

bool File::queue(const unsigned char* data, std::size_t len) {
    if (pending_.size() + len > BUFFER_SIZE || len >= DIRECT_SIZE) {
        if (!flush()) return false;
        if (len >= DIRECT_SIZE) return write_direct(data, len);
    }
    pending_.insert(pending_.end(), data, data + len);
    return true;
}

bool File::write_all(const void* buf, std::size_t len) {
    if (failed_ || native_ == NO_FILE) return false;
    const auto* data = static_cast<const unsigned char*>(buf);
    if (!crlf_) return queue(data, len);
    // Text where lines end in CR LF: each "\n" goes out as "\r\n".
    static constexpr unsigned char kLineEnd[] = {'\r', '\n'};
    const unsigned char* const end = data + len;
    while (data < end) {
        const unsigned char* const newline = std::find(data, end, '\n');
        if (!queue(data, static_cast<std::size_t>(newline - data))) return false;
        if (newline == end) break;
        if (!queue(kLineEnd, sizeof kLineEnd)) return false;
        data = newline + 1;
    }
    return true;
}

bool File::flush() {
    if (native_ == NO_FILE) return !failed_;
    if (!failed_ && !pending_.empty()) write_direct(pending_.data(), pending_.size());
    pending_.clear();
    return !failed_;
}

bool File::close() {
    if (native_ == NO_FILE) return !failed_;
    bool ok = flush();
    if (!close_native()) ok = false;
    if (!ok) failed_ = true;
    return ok;
}

void File::note_failure(int code) {
    int none = 0;
    failure_.compare_exchange_strong(none, code);
}

std::string File::failure() const {
    const int code = failure_.load();
    return code == 0 ? std::string() : reason_of(code);
}

std::uint64_t File::size() const { return stat_size().value_or(0) + pending_.size(); }

}  // namespace qivpak
