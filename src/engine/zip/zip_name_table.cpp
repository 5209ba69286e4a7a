#include "engine/zip/zip_name_table.h"

#include <bit>

namespace zentrove::engine::zip {

namespace {

static_assert(sizeof(NameTable::Ref) == sizeof(uint64_t));

uint64_t Pack(NameTable::Ref ref) {
  return std::bit_cast<uint64_t>(ref);
}

NameTable::Ref Unpack(uint64_t slot) {
  return std::bit_cast<NameTable::Ref>(slot);
}

}  // namespace

std::string_view NameTable::View(Ref ref) const {
  if (ref.Lent) return lender_(ref.Position);
  return std::string_view(bytes_).substr(ref.Position, ref.Size);
}

std::size_t NameTable::SlotFor(std::string_view name) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = std::hash<std::string_view>{}(name)&mask;; i = (i + 1) & mask) {
    if (slots_[i] == 0 || View(Unpack(slots_[i])) == name) return i;
  }
}

void NameTable::Grow() {
  std::vector<uint64_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
  for (const uint64_t slot : old) {
    if (slot != 0) slots_[SlotFor(View(Unpack(slot)))] = slot;
  }
}

// At most half full, so a search ends after a few steps.
std::size_t NameTable::Probe(std::string_view name) {
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  return SlotFor(name);
}

bool NameTable::Insert(std::string_view name, Ref& ref) {
  const std::size_t slot = Probe(name);
  if (slots_[slot] != 0) return false;
  ref = Append(name);
  slots_[slot] = Pack(ref);
  ++count_;
  return true;
}

bool NameTable::InsertLent(std::size_t index, Ref& ref) {
  const std::string_view name = lender_(index);
  const std::size_t slot = Probe(name);
  if (slots_[slot] != 0) return false;
  ref = Ref{};
  ref.Position = index;
  ref.Lent = 1;
  ref.Size = name.size();
  slots_[slot] = Pack(ref);
  ++count_;
  return true;
}

NameTable::Ref NameTable::Append(std::string_view bytes) {
  Ref ref;
  ref.Position = bytes_.size();
  ref.Size = bytes.size();
  bytes_.append(bytes);
  return ref;
}

}  // namespace zentrove::engine::zip
