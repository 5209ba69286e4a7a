#pragma once

// The names of the entries one write adds. A run may add a million entries, so every name is kept
// once, in one block of bytes, and the set that tells a name already used holds only positions
// in that block: no object of its own per name.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zentrove::engine::zip {

class NameTable {
 public:
  struct Ref {
    uint64_t Offset = 0;
    uint16_t Size = 0;
  };

  // Keeps the name and enters it in the set; false, with nothing kept, when it is there already.
  // Names are 1 to 65535 bytes long.
  bool Insert(std::string_view name, Ref& ref);
  // Keeps bytes without entering them in the set.
  Ref Append(std::string_view bytes);
  std::string_view View(Ref ref) const { return std::string_view(bytes_).substr(ref.Offset, ref.Size); }
  std::size_t Count() const { return count_; }

 private:
  std::size_t SlotFor(std::string_view name, std::size_t hash) const;
  void Grow();

  std::string bytes_;
  // Open addressing; 0 is a free slot, otherwise (offset + 1) << 16 | size.
  std::vector<uint64_t> slots_;
  std::size_t count_ = 0;
};

}  // namespace zentrove::engine::zip
