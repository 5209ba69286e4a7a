#pragma once

#include <string>

#include "platform/result.h"

namespace zentrove::platform {

// Moves a file or a whole folder to the user's trash as freedesktop.org's trash rules describe:
// the home trash ($XDG_DATA_HOME/Trash, by default ~/.local/share/Trash) for paths on the
// file system of the home trash, otherwise $topdir/.Trash/$uid (when an administrator prepared a
// sticky .Trash there) or $topdir/.Trash-$uid of the path's mount. The item goes to files/ under a
// unique name, with an info/<name>.trashinfo holding its original Path (percent-encoded) and
// DeletionDate. A symbolic link is trashed itself, not its target. On failure the path stays where
// it was.
[[nodiscard]] Status MoveToTrash(const std::string& path);

// The trash folder MoveToTrash would use for the path (without creating it); empty when none fits.
std::string TrashFolderFor(const std::string& path);

}  // namespace zentrove::platform
