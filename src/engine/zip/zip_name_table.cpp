#include "engine/zip/zip_name_table.h"

#include <functional>

namespace zentrove::engine::zip {

namespace {

std::string_view SlotName(const std::string& bytes, uint64_t slot) {
  return std::string_view(bytes).substr((slot >> 16) - 1, slot & 0xFFFF);
}

}  // namespace

std::size_t NameTable::SlotFor(std::string_view name, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    if (slots_[i] == 0 || SlotName(bytes_, slots_[i]) == name) return i;
  }
}

void NameTable::Grow() {
  std::vector<uint64_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
  for (const uint64_t slot : old) {
    if (slot != 0)
      slots_[SlotFor(SlotName(bytes_, slot), std::hash<std::string_view>{}(SlotName(bytes_, slot)))] = slot;
  }
}

bool NameTable::Insert(std::string_view name, Ref& ref) {
  // At most half full, so a search ends after a few steps.
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  const std::size_t index = SlotFor(name, std::hash<std::string_view>{}(name));
  if (slots_[index] != 0) return false;
  ref = Append(name);
  slots_[index] = ((ref.Offset + 1) << 16) | ref.Size;
  ++count_;
  return true;
}

NameTable::Ref NameTable::Append(std::string_view bytes) {
  Ref ref{bytes_.size(), static_cast<uint16_t>(bytes.size())};
  bytes_.append(bytes);
  return ref;
}

}  // namespace zentrove::engine::zip
