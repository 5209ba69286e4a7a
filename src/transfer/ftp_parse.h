#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "platform/result.h"

namespace zentrove::transfer {

// Server replies are outside input: a longer line or reply is refused, never buffered without end.
inline constexpr std::size_t kMaxReplyLine = 8 * 1024;
inline constexpr std::size_t kMaxReply = 64 * 1024;

struct FtpReply {
  int code = 0;
  // The lines without the code of the first and the last line, joined by "\n", trimmed.
  std::string text;

  bool Positive() const { return code >= 100 && code < 400; }
  bool Is(int first) const { return code / 100 == first; }
};

// Assembles one reply from its lines (without CR LF): "ddd text", or "ddd-" first line up to a line
// starting with the same code and a blank.
class FtpReplyAssembler {
 public:
  // A malformed first line, a line over kMaxReplyLine or a reply over kMaxReply is an error.
  platform::Status AddLine(std::string_view line);
  bool Complete() const { return complete_; }
  // Only when complete; the assembler is then ready for the next reply.
  FtpReply Take();

 private:
  FtpReply reply_;
  std::string codeText_;
  std::size_t size_ = 0;
  bool started_ = false;
  bool multiline_ = false;
  bool complete_ = false;
};

// Splits a byte stream into replies (LF or CR LF line ends); what follows the last complete reply is
// ignored. Fails like the assembler.
platform::Result<std::vector<FtpReply>> ParseReplies(std::string_view stream);

// A reply's text as it may appear in a log line or an error text: CR, LF and every other control
// character become a blank.
std::string PrintableReplyText(std::string_view text);

// The data port of a 227 reply ("Entering Passive Mode (h1,h2,h3,h4,p1,p2)"); the address it names
// is not used, the data connection goes to the control connection's peer.
std::optional<int> ParsePasvPort(std::string_view text);
// The port of a 229 reply ("Entering Extended Passive Mode (|||port|)").
std::optional<int> ParseEpsvPort(std::string_view text);

// The folder named in a 257 reply ("\"/a/b\" is current"), with doubled quotation marks undone.
std::optional<std::string> ParsePwdReply(const std::string& text);

// One entry of a remote listing.
struct RemoteEntry {
  std::string name;
  bool folder = false;
  bool link = false;
  // Local time; 0 when the listing gave no usable date.
  base::TDateTime time = 0;
  // True when the time came from MLSD or MDTM, which are in UTC. A LIST line shows the server's
  // clock in a zone it does not name, so its time is only good for telling old from new.
  bool exactTime = false;
  // Types other than file, folder and link (devices, sockets, what a server invents): such an entry
  // is never deleted.
  bool otherType = false;
  // When the listing gave it.
  std::optional<std::uint64_t> size;
};

// An MLSD line ("type=file;size=5;modify=20240305123456; name"); the UTC time becomes local time.
std::optional<RemoteEntry> ParseMlsdLine(std::string_view line);
// A LIST line in the Unix form ("-rw-r--r-- 1 u g 5 Mar  5 12:34 name", the year guessed from `now`
// when the line shows a time) or the MS-DOS form ("03-05-24  12:34PM  <DIR>  name"). "total" lines
// and what does not parse give nothing.
std::optional<RemoteEntry> ParseListLine(std::string_view line, base::TDateTime now);
// The time of a 213 reply to MDTM ("YYYYMMDDhhmmss[.fff]", UTC) as local time.
std::optional<base::TDateTime> ParseMdtmTime(std::string_view text);

// Splits a listing into lines and parses each. `unparsed`, when given, counts the lines that are
// neither entries, nor blank, nor a "total" line, nor the current and parent folder: a listing with
// such lines does not show the whole folder.
std::vector<RemoteEntry> ParseListing(std::string_view listing, bool mlsd, base::TDateTime now,
                                      std::size_t* unparsed = nullptr);

}  // namespace zentrove::transfer
