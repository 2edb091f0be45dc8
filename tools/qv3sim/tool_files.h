// The files qv3sim is given and writes: read whole, checked to be UTF-8 where they must be, and
// every failure said in plain words that name the file and, where there is one, the line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv3sim {

// The first byte of `text` that is not UTF-8 (overlong forms, surrogates and code points above
// U+10FFFF are not), or npos.
std::size_t FirstNonUtf8(const std::string& text);

// The text of a file read as UTF-8, its byte-order mark dropped. Throws DescriptionError naming
// `file` and the encoding it has instead (UTF-16, UTF-32) or the line and column of its first byte
// that is not UTF-8, then `accepted` (what such a file may be: "a description must be UTF-8") and,
// for another encoding, `remedy` ("save it as UTF-8").
std::string Utf8FileText(const std::string& bytes, const std::string& file, const char* accepted,
                         const char* remedy);

// The bytes of a file, or nothing and why it cannot be read in plain words ("there is no such
// file", "it is a folder, not a file", or the system's reason).
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path, std::string& why);

// Why a file cannot be written at `path` ("the folder /x does not exist", "it is a folder"...),
// checked before any work is done; "" when it can be tried.
std::string OutputFileProblem(const std::string& path);

// The input among `inputs` ((what it is, path)) that the file at `output` is, compared by the
// file's identity (device and inode: another name or a hard link of an input is the input), or
// nullptr when it is none of them (or does not exist yet).
const std::pair<std::string, std::string>* InputAt(
    const std::string& output, const std::vector<std::pair<std::string, std::string>>& inputs);

}  // namespace qv3sim
