#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/task_record.h"

#include "platform/files.h"

namespace zentrove::engine {

// The file operations every step of a run shares. None of them throws; failures are results and,
// where the caller's rules say so, log lines. Paths are raw bytes: names that are not valid UTF-8
// pass through unchanged.

// The path without trailing "/" (the root keeps its only one), and with exactly one where it had
// none: a trailing "/" would make the last part look empty to the name rules.
using platform::WithoutTrailingSlash;
using platform::WithTrailingSlash;

// Makes a network share reachable with the task's credentials. Mounting shares is the system's job
// on Linux, so without a connector this answers true; a connector can be installed for platforms
// that connect shares themselves (and for tests).
bool ConnectShare(const std::string& path, const std::string& user, const std::string& password);
using ShareConnector =
    std::function<bool(const std::string& share, const std::string& user, const std::string& password)>;
// Called only for network paths ("//server/share/..."), with the share part of the path.
void SetShareConnector(ShareConnector connector);
// The share a path lies on ("//server/share" for "//server/share/dir/file"); for any other path
// its folder part. Used in the "Failed to connect to" line.
std::string ShareOfPath(const std::string& path);

// Creates the folder with all missing parents; true when the folder exists afterwards.
bool EnsureFolder(const std::string& path);
// True when a file, folder or link of that name exists.
bool PathExists(const std::string& path);
// True when the path names a regular file (following a link).
bool IsExistingFile(const std::string& path);
// True when the path names a folder (following a link).
bool IsExistingFolder(const std::string& path);

// Deletes a file, or a folder with everything in it, depth first. A symbolic link is removed itself;
// the walk never follows a link into the folder it points to. Logs "The file cannot be deleted"
// lines (task number 0) for what cannot be removed; true when the last removal succeeded.
bool DeleteFileOrTree(const std::string& path);
// Sends the path to the trash when the option DeleteinRecucledBin is on, otherwise deletes it with
// DeleteFileOrTree. True on success; a path that cannot be trashed stays where it was.
bool DiscardPath(const std::string& path);

// "[EID:" + code + ":" + text + "]" for the calling thread's errno, with the errno mapped to the
// system's error numbers that the texts of the run speak of: ENOENT and ENOTDIR 3 "Path not found.
// If it is network drive try to use \\SERVER\PATH.", EACCES, EPERM and EROFS 5 "Access is denied. ",
// ENOMEM, ENOSPC and EDQUOT 8 "Not enough storage is available to process this command. ", ENODEV,
// ENXIO and ENOMEDIUM 15 "  The system cannot find the drive specified.", ENAMETOOLONG 206 "The
// filename or extension is too long.". Any other errno e is reported as 10000 + e with the C
// library's text for it, so no number can be mistaken for one of the above; errno 0 gives
// "[EID:0:]".
std::string ErrorCodeSuffix();
std::string ErrorCodeSuffix(int errnoValue);
// The mapped number alone.
int SystemErrorCode(int errnoValue);

// Copies the access rights (permission bits, owner and group where permitted, POSIX ACLs) from
// source to destination when the task's CopyAccessRights is on. A failure logs Warning
// "Copy Access Rights Error:" + reason + ":" + source with the task number and is otherwise ignored.
void CopyAccessRightsOf(const std::string& source, const std::string& destination,
                        const core::TArhRecord& task);

// The path, and for an existing file " " + size + " " + unit ("b", "Kb" or "Mb") + " " + its local
// modification time at two-second resolution in the regional short date and long time format.
// A missing path or a folder gives the path alone.
std::string FileDescription(const std::string& path);
// The size part of FileDescription: "1023 b", "2 Kb", "3 Mb".
std::string SizeDescription(std::uint64_t size);
// A file time (nanoseconds since 1970) as local date-time, cut to an even second.
base::TDateTime FileTimeToLocal(std::int64_t mtimeNs);

}  // namespace zentrove::engine
