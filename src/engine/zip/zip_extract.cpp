#include "engine/zip/zip_extract.h"

#include <algorithm>
#include <cerrno>

#include "base/datetime.h"
#include "engine/zip/zip_names.h"
#include "platform/files.h"
#include "platform/scratch.h"

namespace zentrove::engine::zip {
namespace {

constexpr std::uint32_t kHostUnix = 3;
constexpr std::uint32_t kTypeMask = 0170000;
constexpr std::uint32_t kTypeLink = 0120000;
constexpr std::uint32_t kTypeFile = 0100000;
constexpr std::uint32_t kTypeFolder = 0040000;
// The longest link target accepted; a longer one is not a link any system would write.
constexpr std::uint64_t kMaxLinkTarget = 4096;

// The Unix mode an archive made on Unix records; 0 when there is none.
std::uint32_t UnixModeOf(const ZipEntry& entry) {
  if (entry.HostSystem() != kHostUnix) return 0;
  return entry.ExternalAttributes >> 16;
}

// Nanoseconds since 1970 of the entry's modification time: the Unix time when recorded, else the
// MS-DOS date and time, a local wall-clock value.
std::int64_t ModificationTimeNs(const ZipEntry& entry) {
  if (entry.UnixMtime) return *entry.UnixMtime * 1000000000;
  const int year = 1980 + (entry.DosDate >> 9);
  const int month = (entry.DosDate >> 5) & 0x0F;
  const int day = entry.DosDate & 0x1F;
  const int hour = entry.DosTime >> 11;
  const int minute = (entry.DosTime >> 5) & 0x3F;
  const int second = (entry.DosTime & 0x1F) * 2;
  base::TDateTime date = 0;
  base::TDateTime time = 0;
  if (!base::TryEncodeDate(year, month, day, date) || !base::TryEncodeTime(hour, minute, second, 0, time))
    return platform::kKeepTime;
  return static_cast<std::int64_t>(base::ToTimeT(date + time)) * 1000000000;
}

// Every folder between the target folder and the entry, created as needed; a part that exists as
// anything but a real folder (a symbolic link above all) stops the entry.
platform::Replace ReplaceOf(ExistingFiles existing) {
  return existing == ExistingFiles::Overwrite ? platform::Replace::Yes : platform::Replace::OnlyWhenFree;
}

// One folder, or the one already there (never a link to one).
platform::Status EnsureOneFolder(const std::string& path, std::uint32_t mode) {
  platform::Status created = platform::CreateFolder(path, mode);
  if (created.Code() == EEXIST && platform::Stat(path).kind == platform::FileKind::Folder)
    return platform::Status::Success();
  return created;
}

bool PrepareParents(const std::string& folder, const std::string& relative, std::string& message) {
  std::size_t slash = relative.find('/');
  while (slash != std::string::npos) {
    const std::string path = folder + relative.substr(0, slash);
    const platform::FileInfo info = platform::Stat(path);
    if (info.exists && info.kind != platform::FileKind::Folder) {
      message = "the folder " + path + " is not a plain folder";
      return false;
    }
    if (!info.exists) {
      const platform::Status created = EnsureOneFolder(path, 0777);
      if (!created) {
        message = created.Message();
        return false;
      }
    }
    slash = relative.find('/', slash + 1);
  }
  return true;
}

// What stands at the entry's place decides whether it may be written.
bool MayWrite(const std::string& path, ExistingFiles existing, ExtractedEntry& result) {
  const platform::FileInfo info = platform::Stat(path);
  if (!info.exists) return true;
  if (info.kind == platform::FileKind::Folder) {
    result.Status = ExtractStatus::Failed;
    result.Message = "a folder of that name exists";
    return false;
  }
  if (existing == ExistingFiles::Keep) {
    result.Status = ExtractStatus::Kept;
    result.Message = "exists; not overwritten";
    return false;
  }
  return true;
}

void ExtractFolder(const std::string& path, std::uint32_t mode, ExtractedEntry& result) {
  const platform::Status created = EnsureOneFolder(path, mode != 0 ? (mode & 07777) | 0700 : 0777);
  if (!created) {
    result.Message = created.Message();
    return;
  }
  result.Status = ExtractStatus::Restored;
}

void ExtractLink(const ZipReader& reader, std::size_t index, const ExtractRequest& request,
                 const std::string& path, ExtractedEntry& result) {
  std::string target;
  const ZipError error =
      reader.Extract(index, request.Password, [&target](const unsigned char* data, std::size_t size) {
        if (target.size() + size > kMaxLinkTarget) return false;
        target.append(reinterpret_cast<const char*>(data), size);
        return true;
      });
  if (error) {
    result.Message = error.Message;
    return;
  }
  if (target.empty() || target.find('\0') != std::string::npos) {
    result.Status = ExtractStatus::Refused;
    result.Message = "the link has no usable target";
    return;
  }
  const platform::Status made = PlaceSymlink(target, path, request.Existing);
  if (!made) {
    if (made.Code() == EEXIST) result.Status = ExtractStatus::Kept;
    result.Message = made.Code() == EEXIST ? "exists; not overwritten" : made.Message();
    return;
  }
  (void)platform::SetFileTimes(path, ModificationTimeNs(reader.Entries()[index]), platform::kKeepTime);
  result.Status = ExtractStatus::Restored;
}

void ExtractFile(const ZipReader& reader, std::size_t index, const ExtractRequest& request,
                 const std::string& path, std::uint32_t mode, ExtractedEntry& result) {
  auto writer = platform::ScratchWriter::Create(path, platform::ScratchShape::Counted, 0600);
  if (!writer) {
    result.Message = writer.Message();
    return;
  }
  platform::Status written;
  std::uint64_t size = 0;
  ExtractControl control;
  control.CancelFlag = request.CancelFlag;
  const ZipError error = reader.Extract(
      index, request.Password,
      [&](const unsigned char* data, std::size_t count) {
        written = writer->Output().Write(data, count);
        size += count;
        return written.Ok();
      },
      control);
  if (!written) {
    result.Message = written.Message();
    return;
  }
  if (error) {
    result.Message = error.Message;
    return;
  }
  // Set-user and set-group bits are not given back: an archive is no reason to hand out rights.
  platform::Status committed = writer->Output().SetMode(mode != 0 ? mode & 0777 : 0644);
  if (committed) committed = writer->Commit(ReplaceOf(request.Existing));
  if (!committed) {
    if (committed.Code() == EEXIST) {
      result.Status = ExtractStatus::Kept;
      result.Message = "exists; not overwritten";
    } else {
      result.Message = committed.Message();
    }
    return;
  }
  (void)platform::SetFileTimes(path, ModificationTimeNs(reader.Entries()[index]), platform::kKeepTime);
  result.Size = size;
  result.Status = ExtractStatus::Restored;
}

}  // namespace

platform::Status PlaceSymlink(const std::string& target, const std::string& path, ExistingFiles existing) {
  // The link is made under a scratch name and moved into place, so it replaces only what it may.
  const std::string scratch =
      platform::ScratchPathFor(path, platform::ScratchShape::Counted, platform::NextScratchCounter());
  platform::Status made = platform::CreateSymlink(target, scratch);
  if (!made) return made;
  made = platform::MoveScratchInPlace(scratch, path, ReplaceOf(existing), platform::Flush::No);
  if (!made) (void)platform::RemoveFile(scratch);
  return made;
}

std::optional<std::string> SafeRelativePath(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos) return std::nullopt;
  std::string relative;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") {
      if (!relative.empty()) relative += '/';
      relative.append(part);
    }
    start = end + 1;
  }
  if (relative.empty()) return std::nullopt;
  return relative;
}

std::size_t ExtractReport::Count(ExtractStatus status) const {
  return static_cast<std::size_t>(std::count_if(
      Entries.begin(), Entries.end(), [status](const ExtractedEntry& e) { return e.Status == status; }));
}

std::uint64_t ExtractReport::RestoredBytes() const {
  std::uint64_t total = 0;
  for (const ExtractedEntry& entry : Entries) {
    if (entry.Status == ExtractStatus::Restored) total += entry.Size;
  }
  return total;
}

bool ExtractReport::Ok() const {
  return !Cancelled && Count(ExtractStatus::Restored) == Entries.size();
}

ExtractReport ExtractArchive(const ZipReader& reader, const ExtractRequest& request) {
  ExtractReport report;
  const std::string folder = platform::WithTrailingSlash(request.Folder);
  names::OemConverter oem(names::DefaultOemCodePage());
  const std::vector<ZipEntry>& entries = reader.Entries();
  // Folders get their permission bits last, so a folder without write permission is filled first.
  std::vector<std::pair<std::string, std::uint32_t>> folderModes;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (request.CancelFlag != nullptr && request.CancelFlag->load()) {
      report.Cancelled = true;
      break;
    }
    const ZipEntry& entry = entries[i];
    ExtractedEntry result;
    result.Name = names::EntryNameKey(entry, &oem);
    if (request.Select && !request.Select(result.Name)) continue;
    const std::optional<std::string> relative = SafeRelativePath(result.Name);
    if (!relative) {
      result.Status = ExtractStatus::Refused;
      result.Message = "the name leaves the target folder";
      report.Entries.push_back(std::move(result));
      continue;
    }
    const std::uint32_t mode = UnixModeOf(entry);
    const std::uint32_t type = mode & kTypeMask;
    const bool isFolder = entry.IsFolder() || type == kTypeFolder;
    const bool isLink = !isFolder && type == kTypeLink;
    const std::string path = folder + *relative;
    if (!PrepareParents(folder, *relative, result.Message)) {
      result.Status = ExtractStatus::Refused;
    } else if (isFolder) {
      const platform::FileInfo info = platform::Stat(path);
      if (info.exists && info.kind != platform::FileKind::Folder) {
        result.Message = "something other than a folder has that name";
      } else {
        ExtractFolder(path, mode, result);
        if (mode != 0) folderModes.emplace_back(path, (mode & 07777) | 0700);
      }
    } else if (MayWrite(path, request.Existing, result)) {
      if (isLink) {
        ExtractLink(reader, i, request, path, result);
      } else if (type == 0 || type == kTypeFile) {
        ExtractFile(reader, i, request, path, mode, result);
      } else {
        result.Status = ExtractStatus::Refused;
        result.Message = "not a file, folder or link";
      }
    }
    report.Entries.push_back(std::move(result));
  }
  for (auto it = folderModes.rbegin(); it != folderModes.rend(); ++it)
    (void)platform::SetMode(it->first, it->second);
  return report;
}

}  // namespace zentrove::engine::zip
