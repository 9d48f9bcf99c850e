// inputs.hpp - the files a command works on: its arguments, each folder among them replaced by its files of the kind
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qiv {

// What a command takes from a folder: containers ("*.qiv") or disc images
// ("*.iso", "*.bin", "*.img"), the extension compared without regard to case.
enum class FileKind { containers, images };

// Replaces each folder among `names` by its files of `kind`: only its own
// files, or with `recursive` those of every folder below it too. They come
// sorted by their path below the folder, compared byte by byte in UTF-8 with
// "/" between folders, and are named by the folder as written, "/" and that
// path ("discs/a.qiv", "discs/sub/b.qiv"). Names that are no folder stay as
// given, to be judged by the command. A folder with no such file, or one that
// cannot be read, is said on `err` ("qiv: DIR: no containers in this folder")
// and left out. Returns false when that happened to any of them.
bool expand_inputs(std::vector<std::string>& names, FileKind kind, bool recursive, std::FILE* err);

}  // namespace qiv
