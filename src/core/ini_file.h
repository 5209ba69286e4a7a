#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zentrove::core {

// How a written value is put after "=": inside double quotation marks only where a reader would
// otherwise change it, or always (as files meant for people to read keep every value).
enum class Quotes { WhenNeeded, Always };

// Who may read a profile file that this program creates or rewrites.
enum class FilePrivacy {
  Shared,     // 0644 through the umask
  OwnerOnly,  // 0600: the file holds passwords
};

// A value longer than this many characters is cut on reading, as the readers of the task list use a
// buffer of one character more.
inline constexpr std::size_t kMaxProfileValueChars = 40941;

// An INI profile file held in memory: sections in square brackets and key=value lines, read and
// written by the rules of the classic profile functions.
//
// Reading: section and key names match without regard to case; the first section of a name and the
// first key of a name in it count; blanks around a value and one pair of enclosing quotation marks
// (double or single) are removed, and the value is cut to kMaxProfileValueChars. A missing file,
// section or key gives the default.
//
// Writing changes the memory copy: an existing key keeps its line and gets the new value, a new key
// goes after the last non-blank line of its section (so the blank lines that separate it from the
// next section stay where they are), a new section goes at the end of the file. Lines before the
// first section, comments and lines that are no key are kept as they are. Flush then replaces the
// whole file crash-safely; lines end in CR LF, the reader also accepts LF or CR alone.
//
// Two processes may share a file (a service copy and a desktop copy). Flush therefore re-reads the
// file under a lock, repeats on it the writes made since the last Load or Flush and writes the result,
// so each process changes only the keys it wrote, as key-by-key writing would.
class IniFile {
 public:
  explicit IniFile(std::string path, FilePrivacy privacy = FilePrivacy::Shared);

  const std::string& Path() const { return path_; }

  // Reads the file into memory and forgets writes not yet flushed. A missing file is an empty
  // profile; false (and the memory copy empty) when the file exists but cannot be read.
  [[nodiscard]] bool Load(std::string* error = nullptr);
  // Replaces the memory copy by the profile in `text`, as if the file held it.
  void LoadText(std::string_view text);

  // Section names in file order, without the brackets; a name given twice is listed twice.
  std::vector<std::string> SectionNames() const;
  bool SectionExists(std::string_view section) const;
  // The key names of a section in file order (comments and lines without "=" left out).
  std::vector<std::string> KeyNames(std::string_view section) const;
  // The value as a reader sees it; nullopt when the section or key is missing or the key's line has
  // no "=".
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;

  // Values that a reader would change (blanks at either end, or a pair of enclosing quotation
  // marks) are written inside double quotation marks, which every reader removes again. A line
  // break or NUL cannot be part of a line; each becomes a blank.
  void WriteString(std::string_view section, std::string_view key, std::string_view value,
                   Quotes quotes = Quotes::WhenNeeded);
  // Removes every section of that name with all its lines.
  void EraseSection(std::string_view section);
  // Removes everything: the next Flush writes an empty file.
  void Clear();

  // True when writes were made since the last Load or Flush.
  bool Modified() const { return !journal_.empty(); }
  // The file as Flush would write it from the memory copy.
  std::string Text() const;
  // Writes pending changes to the disk (see the class comment); nothing to do when none are
  // pending. On failure the changes stay pending and `error` tells why.
  [[nodiscard]] bool Flush(std::string* error = nullptr);

  // The value part of a line as the reader sees it: blanks around it and one pair of enclosing
  // quotation marks removed, cut to kMaxProfileValueChars.
  static std::string ReaderValue(std::string_view rawValue);
  // The text to put after "=" so that ReaderValue gives `value` back (line breaks and NUL aside).
  static std::string WriterValue(std::string_view value, Quotes quotes = Quotes::WhenNeeded);

 private:
  enum class LineKind { Blank, Comment, Key };
  struct Line {
    std::string raw;  // the line as written, without its end
    LineKind kind = LineKind::Blank;
    std::string name;       // Key: the name, blanks removed
    bool hasValue = false;  // Key: the line has "="
    std::string rawValue;   // Key: the text after "=", blanks removed
  };
  struct Section {
    std::string header;  // the header line as written
    std::string name;
    std::vector<Line> lines;
    // Lower-case key name -> index of its first line; rebuilt when lines move.
    mutable std::unordered_map<std::string, std::size_t> keyIndex;
    mutable bool keyIndexValid = false;

    // The index of the key's first line, or npos.
    std::size_t FindKey(std::string_view name) const;
  };
  enum class Op { Write, Erase, Clear };
  struct Change {
    Op op;
    std::string section;
    std::string key;
    std::string value;
    Quotes quotes = Quotes::WhenNeeded;
  };

  static Line ParseLine(std::string_view raw);
  void Parse(std::string_view text);
  void Apply(const Change& change);
  void ApplyWrite(std::string_view section, std::string_view key, std::string_view valueText);
  void ApplyErase(std::string_view section);
  const Section* FindSection(std::string_view name) const;
  Section* FindSection(std::string_view name);
  void RebuildIndex() const;

  std::string path_;
  FilePrivacy privacy_;
  bool bom_ = false;
  std::vector<Line> preamble_;
  std::vector<Section> sections_;
  std::vector<Change> journal_;
  // Lower-case section name -> index of its first section; rebuilt after sections come or go.
  mutable std::unordered_map<std::string, std::size_t> index_;
  mutable bool indexValid_ = false;
};

}  // namespace zentrove::core
