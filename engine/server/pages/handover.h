#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// How a document reaches a sandboxed engine, and what it could not reach from there.
//
// The engine may not open the document's path (process/sandbox.h): the program opens it and
// sends the descriptor along with the Open call. The office opens documents by name,
// so the engine copies the document into its temporary folder, which lies in memory,
// and the office reads the copy as the document at the original's address (its
// relative links and file-name fields are the original's). The copy is in memory and
// goes when the document is closed.
class HandedDocument
{
public:
    // Copies the regular file open as `descriptor` to `folder`/`name` (the original's
    // name: the office's type detection reads the extension). Null when the descriptor
    // is no regular file, or the copy could not be made.
    static std::unique_ptr<HandedDocument> copy(int descriptor, const std::filesystem::path &folder,
                                                const std::filesystem::path &name);
    // Whether `descriptor` is open on a regular file: one that copy() could not take
    // found no room.
    static bool isRegularFile(int descriptor);
    ~HandedDocument();
    HandedDocument(const HandedDocument &) = delete;
    HandedDocument &operator=(const HandedDocument &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    explicit HandedDocument(std::filesystem::path path) : m_path(std::move(path)) {}

    std::filesystem::path m_path;
};

// The links of `links` (addresses of linked pictures, as the office resolved them)
// that the engine could not follow: every one to the network, and files it may not
// read. A file that does not exist is not left out; the document lacks it anyway.
// Files are named by their path, other links as they are.
std::vector<std::string> leftOutLinks(const std::vector<std::string> &links);
