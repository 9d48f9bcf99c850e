// pending_output.hpp - an output written under a temporary name beside its final one, put in place only when complete
#pragma once

#include <stdexcept>
#include <string>

namespace qiv {

// A refusal or failure of one input, in words for the person ("No space left on device").
class InputFailed : public std::runtime_error {
    using runtime_error::runtime_error;
};

// The temporary file that becomes an output. It lives in the output's folder, under a hidden name that no
// other run shares (".game.qiv.part-" and six random letters or digits), so that the rename at the end
// stays inside one file system and a reader of the final name never sees a partial file. It is removed
// when the object goes unless it was put in place, however the run ends.
class PendingOutput {
public:
    // Creates the temporary file, empty. Throws InputFailed when the folder takes no new file.
    explicit PendingOutput(std::string final_path);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    const std::string& temp_path() const { return temp_; }

    // Flushes the complete temporary file to the device and renames it to the final name: replacing a
    // file of that name only when `replace`, in one step either way. Throws InputFailed when it cannot:
    // the temporary file is then still there, and is removed with the object.
    void put_in_place(bool replace);

private:
    std::string final_;  // the output's name
    std::string temp_;   // the temporary file's name, beside it
    bool placed_ = false;
};

}  // namespace qiv
