#pragma once

// The names of the entries one write adds. A run may add a million entries, so every name is kept
// once: either where the caller keeps it already (a name given by index, read back through the
// lender) or in one block of bytes here. The set that tells a name already used holds only such
// references, no object of its own per name.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrove::engine::zip {

class NameTable {
 public:
  // Eight bytes, since one is kept for every entry.
  struct Ref {
    uint64_t Position : 47 = 0;  // offset in the block, or the lender's index
    uint64_t Lent : 1 = 0;
    uint64_t Size : 16 = 0;
  };
  // Gives the bytes of a lent name by its index; they must stay as they are while the table lives.
  using Lender = std::function<std::string_view(std::size_t index)>;

  explicit NameTable(Lender lender = {}) : lender_(std::move(lender)) {}

  // Enters the name in the set and keeps it; false, with nothing kept, when it is there already.
  // Names are 1 to 65535 bytes long.
  bool Insert(std::string_view name, Ref& ref);
  // The same for a name the lender gives by that index.
  bool InsertLent(std::size_t index, Ref& ref);
  // Keeps bytes without entering them in the set.
  Ref Append(std::string_view bytes);
  std::string_view View(Ref ref) const;
  std::size_t Count() const { return count_; }
  void Reserve(std::size_t bytes) { bytes_.reserve(bytes); }

 private:
  // The slot that holds the name, or the free one where it would go.
  std::size_t Probe(std::string_view name);
  std::size_t SlotFor(std::string_view name) const;
  void Grow();

  Lender lender_;
  std::string bytes_;
  // Open addressing over packed references; 0 is a free slot, so the size of a name is never 0.
  std::vector<uint64_t> slots_;
  std::size_t count_ = 0;
};

}  // namespace zentrove::engine::zip
