#pragma once

// Types shared by the ZIP writer and reader. Names are byte strings throughout: Linux file names may
// hold any bytes, and an entry name that is not valid UTF-8 must come back exactly as it went in.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zentrove::engine::zip {

enum class EncryptStrength { esPKStandard = 0, esAES128 = 1, esAES192 = 2, esAES256 = 3 };

// What happens to an archive that exists already.
enum class ZipAction {
  zaUpdate,   // add files without an entry and files whose entry is older than the file
  zaReplace,  // add every file; an entry of the same name is replaced whatever its date
  zaFreshen,  // only files that have an entry older than the file; no new entries
};

enum class SkipReason { srFileOpenError };

// How a source file was opened when opening it failed.
enum class OpenMode {
  omShareDenyWrite,  // the normal mode: a file another process holds a write lock on counts as locked
  omShareDenyNone,   // "pack it anyway": locks are ignored
};

enum class SkipAnswer { Retry, PackShared, Skip, Abort };

// Message ids handed to OnHandleMessage, with the texts of MessageText().
inline constexpr int kMsgIncompleteZip = 182;
inline constexpr int kMsgNotAValidZip = 183;
inline constexpr int kMsgZipError = 198;
inline constexpr int kMsgLargerThanUncompressed = 199;
inline constexpr int kMsgCouldNotCopyFrom = 202;
inline constexpr int kMsgNotEnoughRoom = 204;
inline constexpr int kMsgCantWriteUncompressed = 207;
inline constexpr int kMsgReadLessThanReported = 208;

// The text for a message id; "Unknown error Id=" + id for any other id.
std::string MessageText(int id);

// One thing to put into the archive, in the order given.
struct ZipSource {
  std::string DiskPath;   // the file or folder on disk
  std::string EntryName;  // the stored name, "/"-separated, relative; folders may end with "/"
  bool IsFolder = false;  // a folder entry: no data, the name gets a trailing "/"
  // A symbolic link, never followed: stored as a link with its target text as the data.
  bool IsLink = false;
  // The size the caller saw when it listed the source, which spares the writer a stat of its own
  // for planning; kSizeNotSeen makes the writer look.
  uint64_t SeenSize = kSizeNotSeen;
  static constexpr uint64_t kSizeNotSeen = UINT64_MAX;
};

struct ZipSettings {
  int PackLevel = 6;     // 0 stored, 1..9 deflate levels
  std::string Password;  // bytes; empty means no encryption
  zip::EncryptStrength EncryptStrength = zip::EncryptStrength::esPKStandard;
  bool OEMConvert = false;  // store names in the OEM code page when they convert and back unchanged
  zip::ZipAction ZipAction = zip::ZipAction::zaUpdate;
  // Accepted for the caller's configuration; the scratch archive is always written beside the target
  // so that the final rename cannot cross file systems.
  std::string TempPath;
  // The OEM code page for iconv ("CP437", "CP866"); empty picks it from the locale's language.
  std::string OemCodePage;
  // Compression threads; 0 means one per processor (at most 16).
  unsigned Threads = 0;
  // The archive comment; without one an updated archive keeps the comment it had.
  std::optional<std::string> Comment;
};

// Hooks the writer calls, all on the thread that called ZipWriter::Write and in list order. Because
// entries are compressed ahead on other threads, OnStartZip of later sources may come before
// OnEndZip of earlier ones; each sequence on its own follows the source list, and OnEndZip(file)
// always follows OnStartZip(file). A source that is skipped gets no OnEndZip.
struct ZipHooks {
  // Number of sources that will be added (files and folders) and the bytes of their files.
  std::function<void(uint64_t fileCount, uint64_t totalBytes)> OnStartZipInfo;
  // Before a source is opened; the hook may change the stored entry name.
  std::function<void(const std::string& file, std::string& entryName)> OnStartZip;
  // The source's entry is written (to the scratch archive; it is final only when Write succeeds).
  // `bytes` is the data it holds: what was read of a file, a link's target text, 0 for a folder.
  std::function<void(const std::string& file, uint64_t bytes)> OnEndZip;
  // Progress over all bytes the archive gets, 0..100, called when the value changes.
  std::function<void(int percent)> OnTotalPercentDone;
  // A source could not be opened, or is locked by another process. Without a hook it is skipped.
  std::function<SkipAnswer(const std::string& file, SkipReason reason, OpenMode mode)> OnSkippingFile;
  // A source left out for a reason that no answer to OnSkippingFile could change: its name is too
  // long for the system or for an entry (ENAMETOOLONG), it has vanished (ENOENT), or the system gave
  // another error that is no lock or refusal. `errorCode` is the errno. Without a hook it is reported
  // as message kMsgCouldNotCopyFrom.
  std::function<void(const std::string& file, int errorCode)> OnSourceLeftOut;
  // A warning or error with its id, the text for the id and the particulars (a path, a reason).
  std::function<void(int id, const std::string& text, const std::string& detail)> OnHandleMessage;
  // Called for every added source after the archive is complete and in place, in list order, so
  // that the caller may clear archive marks; the writer never touches the sources themselves.
  std::function<void(std::size_t sourceIndex, const std::string& file)> OnFileAdded;
  // Stop requests, polled often (at least every 64 KiB of data). Either or both may be set.
  const std::atomic<bool>* CancelFlag = nullptr;
  std::function<bool()> IsCancelled;
};

struct ZipResult {
  bool Ok = false;                 // the archive is complete (or was left as it was because nothing changed)
  bool Cancelled = false;          // stopped by the cancel flag or an Abort answer; the old archive is intact
  uint64_t FilesAdded = 0;         // sources written, files and folders
  std::vector<std::size_t> Added;  // indices into the source list of the sources written, in order
  std::string ErrorText;           // why the write failed, empty otherwise
};

// An entry as the central directory describes it, with the Zip64 and AES fields applied.
struct ZipEntry {
  std::string Name;  // raw bytes as stored
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;  // as stored: 99 for AES
  uint16_t DosTime = 0;
  uint16_t DosDate = 0;
  uint32_t Crc32 = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t LocalHeaderOffset = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  std::string Extra;                 // the central extra fields, raw
  std::string Comment;               // raw
  bool Zip64 = false;                // the central record carried a Zip64 extra field
  std::optional<int64_t> UnixMtime;  // from the extended timestamp field 0x5455
  // WinZip AES (field 0x9901)
  bool Aes = false;
  uint16_t AesVendorVersion = 0;  // 1 = AE-1, 2 = AE-2
  uint8_t AesStrength = 0;        // 1, 2, 3 for 128, 192, 256 bits
  uint16_t AesMethod = 0;         // the real compression method

  bool IsFolder() const { return !Name.empty() && Name.back() == '/'; }
  bool IsEncrypted() const { return (Flags & 0x0001) != 0; }
  bool IsUtf8Name() const { return (Flags & 0x0800) != 0; }
  uint16_t RealMethod() const { return Aes ? AesMethod : Method; }
  uint8_t HostSystem() const { return static_cast<uint8_t>(VersionMadeBy >> 8); }
};

// Why an archive could not be opened or an entry could not be read.
enum class ZipErrorCode {
  None,
  NotAZip,           // "Not a valid zip file!"
  Incomplete,        // "Incomplete Zip File"
  Io,                // the file could not be read
  Unsupported,       // a compression method or encryption this reader does not know
  PasswordRequired,  // the entry is encrypted and no password was given
  WrongPassword,     // the password check failed
  DataError,         // the compressed data is damaged
  SizeMismatch,      // the data is longer or shorter than the entry says
  CrcMismatch,       // the CRC-32 differs
  AuthFailed,        // the AES authentication code differs
  Cancelled,
  SinkFailed,  // the consumer of extracted data refused it
};

struct ZipError {
  ZipErrorCode Code = ZipErrorCode::None;
  std::string Message;
  explicit operator bool() const { return Code != ZipErrorCode::None; }
};

}  // namespace zentrove::engine::zip
