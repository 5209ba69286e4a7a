#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"

namespace zentrove::engine {

// The "Edit mask" dialog's entries: the list split at ";", empty entries left out.
std::vector<std::string> SplitMaskList(std::string_view list);
// The entries joined with ";", none after the last one.
std::string JoinMaskList(const std::vector<std::string>& entries);

// An entry made in the wildcard dialog: the folder without its trailing "/", then "/" and the mask
// ("/" and the mask for the root folder).
std::string MaskEntry(std::string_view folder, std::string_view mask);

// Where "Edit" opens the wildcard dialog for an entry: in the entry's folder with its file part as
// the mask when that folder exists; otherwise the folder is empty and the mask "*.*".
struct WildcardStart {
  std::string folder;
  std::string mask;
  bool operator==(const WildcardStart&) const = default;
};
WildcardStart WildcardStartFor(std::string_view entry);

// "Selected files" of the wildcard dialog: the names of the folder's files (not subfolders) that the
// trimmed mask matches, hidden and read-only ones included, sorted by name.
std::vector<std::string> WildcardMatches(const std::string& folder, std::string_view mask);

// The "Example" of a destination: prefix + the moment in the date format + ".zip".
std::string ArchiveNameExample(std::string_view prefix, std::string_view dateFormat, base::TDateTime moment);

}  // namespace zentrove::engine
