// pending_output.hpp - an output written under a temporary name beside its final one, put in place only when complete
#pragma once

#include "io/file.hpp"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qiv {

// A refusal or failure of one input, in words for the person ("No space left on device").
class InputFailed : public std::runtime_error {
    using runtime_error::runtime_error;
};

// The temporary file that becomes an output. Where the system allows (Linux), it has no name at all until
// it is complete, so that even a killed run leaves nothing. Elsewhere it lives in the output's folder, under a hidden name that no
// other run shares (".game.qiv.part-" and six random letters or digits), so that the rename at the end
// stays inside one file system and a reader of the final name never sees a partial file. It is removed
// when the object goes unless it was put in place, however the run ends; and it is claimed while it
// lives (qivpak::ClaimedFile), so that the temporary file of a run that was killed, which nothing
// removed, is known as such by the next run of the same output, which removes it.
class PendingOutput {
public:
    // Creates the temporary file, empty. Throws InputFailed when the folder takes no new file.
    explicit PendingOutput(std::string final_path);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // The name to write it by (for an unnamed file, the system's name of its descriptor).
    const std::string& temp_path() const { return temp_; }
    // Its folder, where a program that writes it may keep files of its own.
    const std::string& folder() const { return folder_; }
    // The temporary files of this output that killed runs had left, removed when this one was made.
    const std::vector<std::string>& removed_leftovers() const { return removed_; }

    // Flushes the complete temporary file to the device and renames it to the final name: replacing a
    // file of that name only when `replace`, in one step either way. Throws InputFailed when it cannot:
    // the temporary file is then still there, and is removed with the object.
    void put_in_place(bool replace);

private:
    // Names the complete unnamed file as the output (put_in_place's way where the system has them).
    void name_in_place(bool replace);
    // Removes the files named `prefix` and six more characters in `folder` that no run claims.
    void remove_leftovers(const std::string& folder, const std::string& prefix);

    std::string final_;   // the output's name
    std::string folder_;  // the output's folder, as written ("" for the current one)
    std::string prefix_;  // of the hidden names: ".NAME.part-"
    std::string temp_;    // the temporary file's name, beside it, or the unnamed file's path
    std::vector<std::string> removed_;
    bool placed_ = false;
    std::optional<qivpak::UnnamedFile> unnamed_;  // where the system has them; else the claimed name below
    std::optional<qivpak::ClaimedFile> claim_;    // last: held until the temporary file is gone or in place
};

}  // namespace qiv
