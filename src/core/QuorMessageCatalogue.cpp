// The message catalogue as data, and the formatting of its texts.
#include "core/QuorMessageCatalogue.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

struct CatalogueEntry {
  QuorMessageId id;
  const char* text;
};

#define QUOR_CATALOGUE_ENTRY(name, id, text, ...) {name.Id(), name.Text()},
constexpr CatalogueEntry kCatalogue[] = {QUOR_MESSAGE_CATALOGUE(QUOR_CATALOGUE_ENTRY)};
#undef QUOR_CATALOGUE_ENTRY

constexpr bool IsSortedById() {
  for (std::size_t i = 1; i < std::size(kCatalogue); ++i) {
    if (kCatalogue[i - 1].id >= kCatalogue[i].id) return false;
  }
  return true;
}
static_assert(IsSortedById(), "the lookup is a binary search");
static_assert(std::size(kCatalogue) == 178);

}  // namespace

std::string_view QuorLoadMessage(QuorMessageId id) noexcept {
  const auto* found = std::lower_bound(
      std::begin(kCatalogue), std::end(kCatalogue), id,
      [](const CatalogueEntry& entry, QuorMessageId wanted) { return entry.id < wanted; });
  if (found == std::end(kCatalogue) || found->id != id) return {};
  return found->text;
}

std::string QuorFormatText(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text;
  try {
    text = QuorFormatTextV(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  return text;
}
