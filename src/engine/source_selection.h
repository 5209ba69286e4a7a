#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/task_record.h"

namespace zentrove::engine {

// ---------------------------------------------------------------------------------------------
// List syntax

// Replaces %NAME% and ${NAME} references in a whole include or exclude list; a list that holds
// neither "%" nor "${" is returned unchanged. References to unknown variables stay as written, and such an
// item then names no existing folder and selects nothing. The expansion is not cut to any length: a cut path
// would name some other folder.
std::string ExpandEnvironment(std::string_view list);

// The number of items of a ";" list: 0 for an empty list, otherwise the number of ";" once one has
// been appended to a list that does not end with one. Items stand as written (no trimming).
int ListItemCount(std::string_view list);
// Item `index` counted from 0; empty for an index out of range.
std::string ListItem(std::string_view list, int index);
// All items in order, empty ones included.
std::vector<std::string> SplitList(std::string_view list);

// ---------------------------------------------------------------------------------------------
// Masks

// Matches a text against a mask: "*" matches any run of characters (also none, also "/"), "?"
// exactly one character (a UTF-8 sequence counts as one, so does a byte that starts none), "[...]"
// one character of the set with ranges a-z and a leading "!" for "not in the set"; a "[" without
// its "]" stands for itself, and every other character matches itself. ASCII letters match without
// regard to case, even though Linux file names are case-sensitive: a mask is a filter the user
// typed, and "*.jpg" is expected to take "IMG_0001.JPG" as well. Other letters compare exactly
// (names need not be valid UTF-8, so there is no reliable way to fold them). The time taken grows
// with the product of the two lengths at most, never exponentially.
bool MatchesMask(std::string_view mask, std::string_view text);

// Replaces every "*.*" by "*": in every list "*.*" stands for all files, also those without a dot.
std::string AllFilesMaskToStar(std::string_view mask);

// The part of an include item before its first "*", "?" or "[", cut back to its last "/" (which it
// keeps): "/data/*.doc" -> "/data/". Empty when that part holds no "/".
std::string MaskBaseFolder(std::string_view item);
// Everything up to and including the last "/" of a path; empty when it has none.
std::string FolderPart(std::string_view path);
// The part after the last "/".
std::string_view NamePart(std::string_view path);

// ---------------------------------------------------------------------------------------------
// Selection

// The settings of a task that decide which files a run takes.
struct SelectionSettings {
  std::string includeList;         // FileSourceMask
  std::string excludeList;         // FileSourceExcludeMask
  bool processSubfolders = true;   // ProcessSubfolders
  bool onlyArchiveMarked = false;  // SkipIfArchiveBitNotSet
};
SelectionSettings SelectionSettingsOf(const core::TArhRecord& task);

// One include item, prepared for walking.
struct IncludeItem {
  std::string text;        // the item after expansion, as the list holds it
  std::string mask;        // matched against full paths: "*.*" made "*", a folder item made folder/*
  std::string baseFolder;  // where its walk starts; ends with "/"
  std::string folder;      // its folder part; ends with "/"
};

enum class EntryKind {
  File,        // a regular file
  LinkToFile,  // a symbolic link whose target is a regular file; size and time are the target's
  // A symbolic link to a folder or to nothing (SelectOptions::allLinks); size and time are the link's.
  Link,
  Folder,  // only in SelectedSources::folders
};

// Either kind of symbolic link; those who copy or store links take both as links.
inline bool IsLink(EntryKind kind) {
  return kind == EntryKind::LinkToFile || kind == EntryKind::Link;
}

struct SourceEntry {
  std::string path;  // full path, raw bytes as the file system holds them
  EntryKind kind = EntryKind::File;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;  // nanoseconds since 1 January 1970 UTC
  std::size_t item = 0;      // index of the include item that selected it
  // The archive mark as the walk saw it: read when the selection takes marked files only or the
  // caller asked for it (SelectOptions::readArchiveMarks); otherwise true, which is always safe
  // (clearing a clear mark rewrites the same mark).
  bool archiveMarked = true;
};

// How a walk is driven from outside.
struct WalkControl {
  // Polled at every folder and every few hundred entries; true ends the walk.
  std::function<bool()> stopRequested;
  // Called with every folder the walk enters (with a trailing "/"), before its files are reported.
  std::function<void(const std::string& folder)> onFolder;
  // Called with every folder the walk should have entered but could not open or list completely (a
  // base folder that is missing or unreadable included), with the errno; the walk goes on without
  // it. A synchronising copy keeps the copies of what it could not see.
  std::function<void(const std::string& folder, int errorCode)> onUnreadableFolder;
  // Called with every file or other entry the walk found but could not look at (not one that vanished
  // meanwhile), with the errno; its folder has not been seen whole.
  std::function<void(const std::string& path, int errorCode)> onUnreadableEntry;
  // Called with every file as it is selected, in the order of the result, while the walk goes on.
  std::function<void(const SourceEntry& file)> onFile;
};

enum class Duplicates {
  Skip,  // a file that an earlier include item selected already is not reported again
  Keep,  // every include item reports all the files it selects
};

struct SelectOptions {
  Duplicates duplicates = Duplicates::Skip;
  // Also list every folder below a base folder that the walk enters (for stored folder entries, so
  // empty folders survive).
  bool collectFolders = false;
  // Read the archive mark of every selected file even when all files are taken, for callers that
  // clear it only where it was set.
  bool readArchiveMarks = false;
  // Also report symbolic links to folders and links that point nowhere (EntryKind::Link), for
  // callers that keep every link as a link.
  bool allLinks = false;
};

struct SelectedSources {
  std::vector<SourceEntry> files;    // include item order, then walk order
  std::vector<SourceEntry> folders;  // with collectFolders: walk order, each path ends with "/"
  std::uint64_t totalBytes = 0;      // sum of the files' sizes
  bool stopped = false;              // the stop request ended the walk early
};

// The include and exclude lists of a task, expanded, split and prepared. Walks list each folder
// once, sort its entries by the bytes of their names so that every run stores the same files in
// the same order, report the files of a folder before descending into its subfolders, never follow
// symbolic links to folders (a link loop cannot hang a run), and skip anything that is neither a
// file nor a link to one (a pipe would block the reader). A base folder that is missing or cannot
// be listed contributes nothing, and so does an item that is not an absolute path.
class SourceSelection {
 public:
  explicit SourceSelection(const SelectionSettings& settings);
  static SourceSelection FromTask(const core::TArhRecord& task);

  const std::vector<IncludeItem>& Includes() const { return includes_; }
  // Full-path masks: an item without a folder becomes "*/" + item, so it applies in every folder.
  const std::vector<std::string>& Excludes() const { return excludes_; }
  // The folder part of every include item, in list order (the writer's source folder list).
  std::vector<std::string> SourceFolders() const;

  // True when the full path of a file matches an exclude item.
  bool IsExcluded(std::string_view path) const;
  // Whether a walk skips the folder (path with a trailing "/") with everything below it: an exclude
  // item that ends with "/" names that folder, and one that ends with "*" and matches the folder
  // would exclude every file below it anyway.
  bool IsFolderExcluded(std::string_view folder) const;
  // The per-file filter: the path matches include item `item` and no exclude item. The archive
  // mark is the caller's to test.
  bool Qualifies(std::size_t item, std::string_view path) const;

  // Every qualifying file, in the order the writer stores them.
  SelectedSources Select(const WalkControl& control = {}, const SelectOptions& options = {}) const;
  // True as soon as one file qualifies.
  bool AnyFileQualifies(const WalkControl& control = {}) const;

  bool ProcessSubfolders() const { return processSubfolders_; }
  bool OnlyArchiveMarked() const { return onlyArchiveMarked_; }

 private:
  std::vector<IncludeItem> includes_;
  std::vector<std::string> excludes_;
  bool processSubfolders_ = true;
  bool onlyArchiveMarked_ = false;
};

// True as soon as one file of the task qualifies (the job runner's pre-check).
bool FilesAvailable(const core::TArhRecord& task, const std::function<bool()>& stopRequested = {});

// ---------------------------------------------------------------------------------------------
// Stored paths

enum class StoredPathRule {
  NamesOnly,            // StorePaths off
  RelativeToSources,    // StorePaths on, StoreFullPathOnCopy off
  FullPathWithoutRoot,  // StorePaths on, StoreFullPathOnCopy on
};
// StorePaths is SavePath, forced on by StoreEmptyFolders.
StoredPathRule StoredPathRuleOf(const core::TArhRecord& task);

// Appends the parts of a folder path to `out`, each followed by "/", leaving out empty parts, "."
// and "..": a path built this way never climbs out of the folder it is placed in.
void AppendFolderParts(std::string& out, std::string_view folder);

// The folder stored for a file whose folder is `fileFolder` (with a trailing "/"), with "/"
// separators, relative, and ending with "/" unless empty:
// - RelativeToSources: the folder with the first source folder that starts it removed, compared
//   without regard to ASCII case; a folder under none of them is stored as with the next rule;
// - FullPathWithoutRoot: the folder without its leading "/"; for a network path ("//server/share/")
//   without server and share as well;
// - NamesOnly: empty.
// "." and ".." parts are dropped, so a stored path can never climb out of the folder it is
// extracted into.
std::string StoredFolder(std::string_view fileFolder, const std::vector<std::string>& sourceFolders,
                         StoredPathRule rule);
// StoredFolder of the file's folder followed by its name.
std::string StoredPath(std::string_view filePath, const std::vector<std::string>& sourceFolders,
                       StoredPathRule rule);

// ---------------------------------------------------------------------------------------------
// Deleting sources after a successful archive

struct DeleteFailure {
  std::string path;
  int errorCode = 0;  // errno, or 0 when the file was kept because it changed after it was read
};

struct DeleteReport {
  std::size_t deleted = 0;
  std::vector<DeleteFailure> failures;
};

// Deletes exactly the given files (DeleteFileAfterZip). A file whose size or modification time is
// no longer the one recorded when it was read is kept and reported, because deleting it would lose
// the changes made since. A link entry removes the link, never its target; a path that has become
// a folder is never removed.
DeleteReport DeleteArchivedSources(const std::vector<SourceEntry>& files);

}  // namespace zentrove::engine
