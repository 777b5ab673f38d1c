#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The engine's confinement. Every document is a stranger's: from the moment a process
// can take one, the kernel keeps it from the network, from other programs and from
// every file conversion does not need, whatever the document asks of the office.
// Nothing here needs privileges, and nothing applied is ever lifted.
//
// Two layers:
// - Calls (seccomp, for every thread of the process): socket() for any family but
//   AF_UNIX fails with EACCES, so no IP socket of any kind, no DNS, and an attempt
//   fails at once; execve and execveat fail with EACCES; io_uring, which could open
//   sockets without socket(), and ptrace are refused. Descriptors the process holds
//   (its socket to the program) keep working.
// - Files (Landlock): reads only under FileSet::read, writes only under
//   FileSet::write, executes nothing; connecting to abstract Unix sockets and
//   signalling processes outside the sandbox are refused where the kernel can (Landlock
//   6 and later). Landlock confines the calling thread and what it starts later, so
//   it is applied while the process has one thread.
//
// Where the kernel lacks a part, the rest still applies and SandboxState says what is
// missing.

// What the kernel enforces in this process.
struct SandboxState
{
    int landlockAbi = 0;     // the kernel's Landlock version; 0 without Landlock
    bool files = false;      // reads, writes and execution confined (Landlock)
    bool truncation = false; // truncating files confined too (Landlock 3 and later)
    bool calls = false;      // no IP sockets, no programs (seccomp)

    bool complete() const { return files && truncation && calls; }
    // What is not in force, in a few words for the user; empty when complete().
    std::string missing() const;
};

// The files a confined process may reach. Folders and files that do not exist are
// left out.
struct FileSet
{
    std::vector<std::filesystem::path> read;  // read only, with what lies under them
    std::vector<std::filesystem::path> write; // read and written
};

// The engine's files: the office installation of `installDir` (its program folder),
// the system libraries, fonts and their configuration that the office reads while it
// converts, its profile and temporary folders, and, when not empty, `documentFolder`
// (the folder of the document, for pictures linked beside it).
FileSet engineFiles(const std::string &installDir, const std::filesystem::path &profile,
                    const std::filesystem::path &temporary,
                    const std::filesystem::path &documentFolder = {});

// The kernel's Landlock version, 0 without Landlock.
int landlockVersion();

// Applies the calls layer; `state` tells what came of it.
void confineCalls(SandboxState &state);
// Applies the files layer for `files`. Only while the process has a single thread;
// with more, nothing is applied.
void confineFiles(const FileSet &files, SandboxState &state);
// Both, files first: the engine's whole sandbox.
SandboxState enterSandbox(const FileSet &files);

// What the engine's command line asks of its sandbox.
struct SandboxOptions
{
    // --linked-files beside: files under the document's own folder may be read too.
    bool linkedBeside = false;
    // --require-sandbox: no document is taken unless the whole sandbox is in force.
    bool required = false;
};

// Why an engine confined as `state` is must take no document under `options` (the
// sandbox is required and not complete), in the engine's words; empty when it may.
std::string sandboxShortfall(const SandboxOptions &options, const SandboxState &state);

namespace engineprotocol {
class RequestReader;
}

// Enters the sandbox of an engine whose office works in `profile` and `temporary`
// and has not started yet (so the process has one thread). With linked files beside
// the document, the folder is that of the document its first call opens, so that
// call is awaited (and left in `calls` to be answered); such an engine serves that
// one document.
SandboxState confineEngine(const SandboxOptions &options, engineprotocol::RequestReader &calls,
                           const std::string &installDir, const std::filesystem::path &profile,
                           const std::filesystem::path &temporary);

// pagelift-engine --sandbox-check [--open PATH]... [--connect PORT]... [--run PROGRAM]...
// Enters the engine's sandbox (engineFiles of `installDir`, with a throw-away profile
// and temporary folder) and then tries each thing asked, printing one line each:
//   sandbox complete | sandbox incomplete: <what is missing>
//   open PATH: allowed | denied
//   connect PORT: allowed | denied     (TCP to 127.0.0.1)
//   run PROGRAM: allowed | denied
// So the program learns what the kernel enforces, and tests see the engine's own
// sandbox at work. Returns the exit code.
int checkSandbox(const std::string &installDir, const std::vector<std::string> &arguments);
