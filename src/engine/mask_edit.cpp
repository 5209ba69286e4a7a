#include "engine/mask_edit.h"

#include <algorithm>

#include "base/text.h"
#include "engine/archive_naming.h"
#include "engine/source_selection.h"
#include "platform/files.h"

namespace zentrove::engine {

std::vector<std::string> SplitMaskList(std::string_view list) {
  std::vector<std::string> entries = base::Split(list, ';');
  std::erase_if(entries, [](const std::string& entry) { return entry.empty(); });
  return entries;
}

std::string JoinMaskList(const std::vector<std::string>& entries) {
  std::string list;
  for (const std::string& entry : entries) {
    if (!list.empty()) list += ';';
    list += entry;
  }
  return list;
}

std::string MaskEntry(std::string_view folder, std::string_view mask) {
  // WithTrailingSlash keeps the root a single "/": "//" would start a network path.
  return platform::WithTrailingSlash(platform::WithoutTrailingSlash(std::string(folder))) + std::string(mask);
}

WildcardStart WildcardStartFor(std::string_view entry) {
  const std::string folder = FolderPart(entry);
  if (!folder.empty() && platform::StatFollow(folder).kind == platform::FileKind::Folder)
    return {folder, std::string(NamePart(entry))};
  return {std::string(), "*.*"};
}

std::vector<std::string> WildcardMatches(const std::string& folder, std::string_view mask) {
  std::vector<std::string> names;
  const auto listed = platform::ListFolder(folder);
  if (!listed.Ok()) return names;
  const std::string pattern = AllFilesMaskToStar(base::TrimBlanks(mask));
  for (const platform::FolderEntry& entry : *listed) {
    const bool file = entry.kind == platform::FileKind::File ||
                      (entry.kind == platform::FileKind::Symlink &&
                       platform::StatFollow(MaskEntry(folder, entry.name)).kind == platform::FileKind::File);
    if (!file) continue;
    if (MatchesMask(pattern, entry.name)) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ArchiveNameExample(std::string_view prefix, std::string_view dateFormat, base::TDateTime moment) {
  return std::string(prefix) + FormatArchiveDate(dateFormat, moment) + ".zip";
}

}  // namespace zentrove::engine
