#include "engine/source_selection.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>
#include <utility>

#include "base/text.h"
#include "platform/environment.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::engine {
namespace {

constexpr std::string_view kAllFilesMask = "*.*";
// Entries between two polls of the stop request. Reading archive marks on a slow network mount may
// take milliseconds per file, so the interval stays small.
constexpr std::size_t kStopPollInterval = 32;
char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsWildcard(char c) {
  return c == '*' || c == '?' || c == '[';
}

// One character of a text: a code point for valid UTF-8, otherwise the single byte, kept apart
// from every code point so that a stray byte never equals a real character.
struct Character {
  char32_t code = 0;
  std::size_t length = 1;
};

Character CharacterAt(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const Character stray{0x110000u + lead, 1};
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t smallest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u, smallest = 0x10000;
  } else {
    return stray;
  }
  if (pos + length > text.size()) return stray;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0u) != 0x80u) return stray;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return stray;
  return {code, length};
}

char32_t FoldCode(char32_t c) {
  return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

// A "[...]" set starting at mask[pos]. `end` is the position after its "]". False when the "[" opens
// no set (no "]" follows, or the set would be empty) and so stands for itself.
bool ParseSet(std::string_view mask, std::size_t pos, std::size_t& end, bool& negated) {
  std::size_t i = pos + 1;
  negated = i < mask.size() && mask[i] == '!';
  if (negated) ++i;
  const std::size_t close = mask.find(']', i);
  if (close == std::string_view::npos || close == i) return false;
  end = close + 1;
  return true;
}

bool InRange(char32_t c, char32_t low, char32_t high) {
  return c >= low && c <= high;
}

bool SetContains(std::string_view members, char32_t c) {
  const char32_t folded = FoldCode(c);
  const char32_t upper = folded >= 'a' && folded <= 'z' ? folded - 'a' + 'A' : folded;
  std::size_t i = 0;
  while (i < members.size()) {
    const Character first = CharacterAt(members, i);
    i += first.length;
    char32_t low = first.code;
    char32_t high = first.code;
    if (i + 1 < members.size() && members[i] == '-') {
      const Character last = CharacterAt(members, i + 1);
      high = last.code;
      i += 1 + last.length;
    }
    if (InRange(c, low, high) || InRange(folded, low, high) || InRange(upper, low, high)) return true;
  }
  return false;
}

// Lexically removes "." and ".." parts and doubled "/" from the literal start of an absolute mask
// (the part before its first wildcard), so that the paths a walk builds start exactly with it. A
// leading "//" (a network path) is kept.
std::string NormaliseMaskStart(std::string_view mask) {
  std::size_t literalEnd = 0;
  while (literalEnd < mask.size() && !IsWildcard(mask[literalEnd]))
    ++literalEnd;
  const std::size_t cut = mask.rfind('/', literalEnd == 0 ? 0 : literalEnd - 1);
  if (cut == std::string_view::npos) return std::string(mask);
  const std::string_view head = mask.substr(0, cut + 1);
  const bool network = head.size() > 2 && head[0] == '/' && head[1] == '/' && head[2] != '/';
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t next = head.find('/', start);
    if (next == std::string_view::npos) next = head.size();
    const std::string_view part = head.substr(start, next - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = next + 1;
  }
  std::string result = network ? "/" : "";
  for (const std::string_view part : parts)
    result.append("/").append(part);
  result.append("/").append(mask.substr(cut + 1));
  return result;
}

bool HasWildcard(std::string_view text) {
  return std::any_of(text.begin(), text.end(), IsWildcard);
}

std::vector<IncludeItem> PrepareIncludes(const std::string& list) {
  std::vector<IncludeItem> items;
  for (std::string& text : SplitList(ExpandEnvironment(list))) {
    if (text.empty() || text[0] != '/') continue;
    std::string mask = AllFilesMaskToStar(text);
    if (mask.back() == '/') {
      mask += '*';
    } else if (!HasWildcard(mask) && platform::StatFollow(mask).kind == platform::FileKind::Folder) {
      // A folder named on its own stands for all its files.
      mask += "/*";
    }
    mask = NormaliseMaskStart(mask);
    IncludeItem item;
    item.baseFolder = MaskBaseFolder(mask);
    item.folder = FolderPart(mask);
    item.mask = std::move(mask);
    item.text = std::move(text);
    items.push_back(std::move(item));
  }
  return items;
}

std::vector<std::string> PrepareExcludes(const std::string& list) {
  std::vector<std::string> masks;
  for (const std::string& text : SplitList(ExpandEnvironment(list))) {
    if (text.empty()) continue;
    std::string mask = AllFilesMaskToStar(text);
    // A mask without a folder applies in every folder; so does one that starts with a relative
    // folder ("cache/*"), which as a full-path mask could never match anything.
    if (mask[0] != '/' && !IsWildcard(mask[0])) mask = "*/" + mask;
    // A folder named with a trailing "/" excludes everything below it.
    if (mask.back() == '/') mask += '*';
    if (mask[0] == '/') mask = NormaliseMaskStart(mask);
    masks.push_back(std::move(mask));
  }
  return masks;
}

// One walk over the include items. The visitor receives every qualifying file and returns false to
// end the whole walk.
class Walker {
 public:
  using Visitor = std::function<bool(SourceEntry&&)>;
  using FolderVisitor = std::function<void(SourceEntry&&)>;

  Walker(const SourceSelection& selection, const WalkControl& control, bool readArchiveMarks, Visitor visitor,
         FolderVisitor folderVisitor, bool allLinks = false)
      : selection_(selection),
        control_(control),
        readArchiveMarks_(readArchiveMarks || selection.OnlyArchiveMarked()),
        allLinks_(allLinks),
        visitor_(std::move(visitor)),
        folderVisitor_(std::move(folderVisitor)) {}

  // False when the walk was ended early, by the visitor or by a stop request.
  bool Run() {
    const auto& includes = selection_.Includes();
    for (item_ = 0; item_ < includes.size(); ++item_) {
      const IncludeItem& include = includes[item_];
      if (StopRequested()) return false;
      if (selection_.IsFolderExcluded(include.baseFolder)) continue;
      auto folder = platform::Folder::Open(include.baseFolder);
      path_ = include.baseFolder;
      if (!folder) {
        ReportUnreadable(folder.Code());
        continue;
      }
      if (!WalkFolder(*folder, 0)) return false;
    }
    return true;
  }

  bool Stopped() const { return stopped_; }

 private:
  struct Name {
    std::size_t offset;
    std::size_t length;
    platform::FileKind kind;
  };

  bool StopRequested() {
    if (!stopped_ && control_.stopRequested && control_.stopRequested()) stopped_ = true;
    return stopped_;
  }

  bool PollStop() { return ++sincePoll_ % kStopPollInterval == 0 && StopRequested(); }

  // path_ holds the folder.
  void ReportUnreadable(int errorCode) {
    if (control_.onUnreadableFolder) control_.onUnreadableFolder(path_, errorCode);
  }

  // path_ holds the entry. One that vanished since the folder was listed is simply gone.
  void ReportUnreadableEntry(int errorCode) {
    if (errorCode != ENOENT && control_.onUnreadableEntry) control_.onUnreadableEntry(path_, errorCode);
  }

  // Walks the open folder whose path with a trailing "/" is path_, `depth` levels below its base
  // folder. Deep levels close `folder` while a subfolder is walked; it is open again on return unless
  // it could not be found again, which has been reported.
  bool WalkFolder(platform::Folder& folder, std::size_t depth) {
    using platform::FileKind;
    if (StopRequested()) return false;
    if (control_.onFolder) control_.onFolder(path_);
    std::string names;
    std::vector<Name> entries;
    bool stop = false;
    const platform::Status listed = folder.ForEachEntry([&](std::string_view name, FileKind kind) {
      entries.push_back({names.size(), name.size(), kind});
      // Each name keeps its terminating NUL, so the arena hands C strings to the look-ups without copies.
      names.append(name).push_back('\0');
      stop = PollStop();
      return !stop;
    });
    if (stop) return false;
    // The entries read so far are still walked; the folder counts as not seen whole.
    if (!listed) ReportUnreadable(listed.Code());
    const auto nameOf = [&names](const Name& n) {
      return std::string_view(names).substr(n.offset, n.length);
    };
    const auto cNameOf = [&names](const Name& n) { return names.c_str() + n.offset; };
    std::sort(entries.begin(), entries.end(),
              [&nameOf](const Name& a, const Name& b) { return nameOf(a) < nameOf(b); });

    const std::size_t folderLength = path_.size();
    std::vector<std::size_t> subfolders;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (PollStop()) return false;
      Name& entry = entries[i];
      const char* name = cNameOf(entry);
      platform::FileInfo info;
      if (entry.kind == FileKind::None) {
        info = folder.InfoOf(name, platform::Links::DontFollow);
        if (!info.exists) {
          path_.append(nameOf(entry));
          ReportUnreadableEntry(info.errorCode);
          path_.resize(folderLength);
          continue;
        }
        entry.kind = info.kind;
      }
      if (entry.kind == FileKind::Folder) {
        if (selection_.ProcessSubfolders()) subfolders.push_back(i);
        continue;
      }
      if (entry.kind != FileKind::File && entry.kind != FileKind::Symlink) continue;
      path_.append(nameOf(entry));
      const bool keepGoing = OfferFile(folder, name, entry.kind, info.exists ? &info : nullptr);
      path_.resize(folderLength);
      if (!keepGoing) return false;
    }

    for (const std::size_t i : subfolders) {
      if (StopRequested()) return false;
      path_.append(nameOf(entries[i])).append("/");
      bool keepGoing = true;
      if (!selection_.IsFolderExcluded(path_)) {
        // A folder that turned into a symbolic link since it was listed is not entered.
        auto child = platform::Folder::OpenAt(folder, std::string(nameOf(entries[i])));
        if (child) {
          if (folderVisitor_) ReportFolder(*child);
          if (depth < platform::kHeldFolderLevels) {
            keepGoing = WalkFolder(*child, depth + 1);
          } else {
            const platform::FileInfo identity = folder.Info();
            folder = platform::Folder();
            keepGoing = WalkFolder(*child, depth + 1);
            path_.resize(folderLength);
            if (!keepGoing) return false;
            if (!Regain(folder, *child, identity)) return true;
          }
        } else if (child.Code() != ELOOP && child.Code() != ENOTDIR) {
          ReportUnreadable(child.Code());
        }
      }
      path_.resize(folderLength);
      if (!keepGoing) return false;
    }
    return true;
  }

  // Opens the folder above `child` again into `folder`, the one given up as `identity` says. A folder
  // moved meanwhile leaves the rest of this one unwalked, which is reported.
  bool Regain(platform::Folder& folder, const platform::Folder& child, const platform::FileInfo& identity) {
    auto parent = platform::Folder::ParentOf(child, identity);
    if (!parent) {
      ReportUnreadable(parent.Code());
      return false;
    }
    folder = std::move(*parent);
    return true;
  }

  void ReportFolder(const platform::Folder& folder) {
    SourceEntry entry;
    entry.path = path_;
    entry.kind = EntryKind::Folder;
    entry.item = item_;
    if (const platform::FileInfo info = folder.Info(); info.exists) entry.mtimeNs = info.mtimeNs;
    folderVisitor_(std::move(entry));
  }

  // path_ holds the file's full path. The cheap mask tests come before any system call.
  bool OfferFile(const platform::Folder& folder, const char* name, platform::FileKind kind,
                 const platform::FileInfo* known) {
    if (!selection_.Qualifies(item_, path_)) return true;
    platform::FileInfo info;
    EntryKind entryKind = EntryKind::File;
    if (kind == platform::FileKind::Symlink) {
      entryKind = EntryKind::LinkToFile;
      info = folder.InfoOf(name, platform::Links::Follow);
      if (info.kind != platform::FileKind::File) {
        if (!allLinks_) {
          // Links to folders and dangling links hold no file data for a caller that reads targets.
          if (!info.exists && info.errorCode != ELOOP && info.errorCode != ENOTDIR)
            ReportUnreadableEntry(info.errorCode);
          return true;
        }
        // Taken as the link itself, never followed: a link to a folder cannot lead the walk in.
        entryKind = EntryKind::Link;
        info = folder.InfoOf(name, platform::Links::DontFollow);
        if (!info.exists) {
          ReportUnreadableEntry(info.errorCode);
          return true;
        }
      }
    } else if (known != nullptr) {
      info = *known;
    } else {
      info = folder.InfoOf(name, platform::Links::DontFollow);
      if (!info.exists) ReportUnreadableEntry(info.errorCode);
      if (info.kind != platform::FileKind::File) return true;
    }
    SourceEntry file;
    if (readArchiveMarks_) {
      file.archiveMarked = ArchiveMarked(entryKind, info);
      if (!file.archiveMarked && selection_.OnlyArchiveMarked()) return true;
    }
    file.path = path_;
    file.kind = entryKind;
    file.size = info.size;
    file.mtimeNs = info.mtimeNs;
    file.item = item_;
    return visitor_(std::move(file));
  }

  // The walk's own stat of a file (which followed a link to a file) stands for the one the mark
  // test would make. A file system without marks answers every file alike, so it is asked once.
  bool ArchiveMarked(EntryKind kind, const platform::FileInfo& info) {
    if (kind == EntryKind::Link) return platform::IsArchiveAttributeSet(path_);
    if (noMarksSeen_ && info.device == noMarksDevice_) return true;
    bool noMarks = false;
    const bool marked = platform::IsArchiveAttributeSet(path_, info, noMarks);
    if (noMarks) {
      noMarksSeen_ = true;
      noMarksDevice_ = info.device;
    }
    return marked;
  }

  const SourceSelection& selection_;
  const WalkControl& control_;
  const bool readArchiveMarks_;
  const bool allLinks_;
  Visitor visitor_;
  FolderVisitor folderVisitor_;
  std::string path_;
  std::size_t item_ = 0;
  std::size_t sincePoll_ = 0;
  bool stopped_ = false;
  bool noMarksSeen_ = false;
  std::uint64_t noMarksDevice_ = 0;
};

}  // namespace

std::string ExpandEnvironment(std::string_view list) {
  if (list.find('%') == std::string_view::npos && list.find("${") == std::string_view::npos) {
    return std::string(list);
  }
  return platform::ExpandEnvironment(list);
}

int ListItemCount(std::string_view list) {
  if (list.empty()) return 0;
  const auto separators = static_cast<int>(std::count(list.begin(), list.end(), ';'));
  return list.back() == ';' ? separators : separators + 1;
}

std::string ListItem(std::string_view list, int index) {
  if (index < 0 || index >= ListItemCount(list)) return {};
  std::size_t start = 0;
  for (int i = 0; i < index; ++i)
    start = list.find(';', start) + 1;
  const std::size_t end = list.find(';', start);
  return std::string(
      list.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> items;
  if (list.empty()) return items;
  items = base::Split(list, ';');
  if (list.back() == ';') items.pop_back();
  return items;
}

bool MatchesMask(std::string_view mask, std::string_view text) {
  std::size_t m = 0;
  std::size_t t = 0;
  std::size_t starMask = std::string_view::npos;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (m < mask.size()) {
      const char c = mask[m];
      if (c == '*') {
        starMask = ++m;
        starText = t;
        continue;
      }
      if (c == '?') {
        ++m;
        t += CharacterAt(text, t).length;
        continue;
      }
      std::size_t setEnd = 0;
      bool negated = false;
      if (c == '[' && ParseSet(mask, m, setEnd, negated)) {
        const Character ch = CharacterAt(text, t);
        const std::size_t membersStart = m + 1 + (negated ? 1 : 0);
        if (SetContains(mask.substr(membersStart, setEnd - 1 - membersStart), ch.code) != negated) {
          m = setEnd;
          t += ch.length;
          continue;
        }
      } else if (FoldAscii(c) == FoldAscii(text[t])) {
        ++m;
        ++t;
        continue;
      }
    }
    // Mismatch: let the last "*" take one more character, or fail when there was none.
    if (starMask == std::string_view::npos) return false;
    starText += CharacterAt(text, starText).length;
    t = starText;
    m = starMask;
  }
  while (m < mask.size() && mask[m] == '*')
    ++m;
  return m == mask.size();
}

std::string AllFilesMaskToStar(std::string_view mask) {
  std::string result(mask);
  base::ReplaceAll(result, kAllFilesMask, "*");
  return result;
}

std::string MaskBaseFolder(std::string_view item) {
  std::size_t literalEnd = 0;
  while (literalEnd < item.size() && !IsWildcard(item[literalEnd]))
    ++literalEnd;
  return FolderPart(item.substr(0, literalEnd));
}

std::string FolderPart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string_view NamePart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

SelectionSettings SelectionSettingsOf(const core::TArhRecord& task) {
  SelectionSettings settings;
  settings.includeList = task.FileSourceMask;
  settings.excludeList = task.FileSourceExcludeMask;
  settings.processSubfolders = task.ProcessSubfolders;
  settings.onlyArchiveMarked = task.SkipIfArchiveBitNotSet;
  return settings;
}

SourceSelection::SourceSelection(const SelectionSettings& settings)
    : includes_(PrepareIncludes(settings.includeList)),
      excludes_(PrepareExcludes(settings.excludeList)),
      processSubfolders_(settings.processSubfolders),
      onlyArchiveMarked_(settings.onlyArchiveMarked) {}

SourceSelection SourceSelection::FromTask(const core::TArhRecord& task) {
  return SourceSelection(SelectionSettingsOf(task));
}

std::vector<std::string> SourceSelection::SourceFolders() const {
  std::vector<std::string> folders;
  folders.reserve(includes_.size());
  for (const IncludeItem& item : includes_)
    folders.push_back(item.folder);
  return folders;
}

bool SourceSelection::IsExcluded(std::string_view path) const {
  return std::any_of(excludes_.begin(), excludes_.end(),
                     [path](const std::string& mask) { return MatchesMask(mask, path); });
}

bool SourceSelection::IsFolderExcluded(std::string_view folder) const {
  return std::any_of(excludes_.begin(), excludes_.end(), [folder](const std::string& mask) {
    return mask.back() == '*' && MatchesMask(mask, folder);
  });
}

bool SourceSelection::Qualifies(std::size_t item, std::string_view path) const {
  return item < includes_.size() && MatchesMask(includes_[item].mask, path) && !IsExcluded(path);
}

SelectedSources SourceSelection::Select(const WalkControl& control, const SelectOptions& options) const {
  SelectedSources result;
  std::unordered_set<std::string> seenFiles;
  std::unordered_set<std::string> seenFolders;
  const bool dedupe = options.duplicates == Duplicates::Skip && includes_.size() > 1;
  Walker::FolderVisitor onFolder;
  if (options.collectFolders) {
    onFolder = [&](SourceEntry&& folder) {
      if (seenFolders.insert(folder.path).second) result.folders.push_back(std::move(folder));
    };
  }
  Walker walker(
      *this, control, options.readArchiveMarks,
      [&](SourceEntry&& file) {
        if (dedupe && !seenFiles.insert(file.path).second) return true;
        if (control.onFile) control.onFile(file);
        result.totalBytes += file.size;
        result.files.push_back(std::move(file));
        return true;
      },
      std::move(onFolder), options.allLinks);
  walker.Run();
  result.stopped = walker.Stopped();
  return result;
}

bool SourceSelection::AnyFileQualifies(const WalkControl& control) const {
  bool found = false;
  Walker walker(*this, control, false, [&found](SourceEntry&&) { return !(found = true); }, {});
  walker.Run();
  return found;
}

bool FilesAvailable(const core::TArhRecord& task, const std::function<bool()>& stopRequested) {
  WalkControl control;
  control.stopRequested = stopRequested;
  return SourceSelection::FromTask(task).AnyFileQualifies(control);
}

StoredPathRule StoredPathRuleOf(const core::TArhRecord& task) {
  if (!task.SavePath && !task.StoreEmptyFolders) return StoredPathRule::NamesOnly;
  return task.StoreFullPathOnCopy ? StoredPathRule::FullPathWithoutRoot : StoredPathRule::RelativeToSources;
}

void AppendFolderParts(std::string& out, std::string_view folder) {
  std::size_t start = 0;
  while (start < folder.size()) {
    std::size_t next = folder.find('/', start);
    if (next == std::string_view::npos) next = folder.size();
    const std::string_view part = folder.substr(start, next - start);
    if (!part.empty() && part != "." && part != "..") out.append(part).push_back('/');
    start = next + 1;
  }
}

std::string StoredFolder(std::string_view fileFolder, const std::vector<std::string>& sourceFolders,
                         StoredPathRule rule) {
  if (rule == StoredPathRule::NamesOnly) return {};
  std::string_view rest = fileFolder;
  bool relative = false;
  if (rule == StoredPathRule::RelativeToSources) {
    for (const std::string& source : sourceFolders) {
      if (!source.empty() && base::EqualsNoCase(fileFolder.substr(0, source.size()), source)) {
        rest = fileFolder.substr(source.size());
        relative = true;
        break;
      }
    }
  }
  if (!relative && rest.size() > 2 && rest[0] == '/' && rest[1] == '/' && rest[2] != '/') {
    // A network path loses its server and share.
    std::size_t slash = rest.find('/', 2);
    if (slash != std::string_view::npos) slash = rest.find('/', slash + 1);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  std::string stored;
  AppendFolderParts(stored, rest);
  return stored;
}

std::string StoredPath(std::string_view filePath, const std::vector<std::string>& sourceFolders,
                       StoredPathRule rule) {
  return StoredFolder(FolderPart(filePath), sourceFolders, rule).append(NamePart(filePath));
}

DeleteReport DeleteArchivedSources(const std::vector<SourceEntry>& files) {
  DeleteReport report;
  for (const SourceEntry& file : files) {
    if (file.kind == EntryKind::Folder) continue;
    const platform::FileInfo info = platform::Stat(file.path);
    if (!info.exists) {
      report.failures.push_back({file.path, info.errorCode});
      continue;
    }
    const bool unchanged = IsLink(file.kind) ? info.kind == platform::FileKind::Symlink
                                             : info.kind == platform::FileKind::File &&
                                                   info.size == file.size && info.mtimeNs == file.mtimeNs;
    if (!unchanged) {
      report.failures.push_back({file.path, 0});
      continue;
    }
    if (const platform::Status removed = platform::RemoveFile(file.path); !removed) {
      report.failures.push_back({file.path, removed.Code()});
      continue;
    }
    ++report.deleted;
  }
  return report;
}

}  // namespace zentrove::engine
