// quor::Error, the names of result codes, flags and states, and the format table.
#include <array>
#include <cstdio>

#include "quor/QuorApiSupport.h"
#include "quormediafiles/QuorFormatIds.h"
#include "quormediafiles/platform/QuorGuid.h"

namespace quor {

namespace {

std::string Compose(std::int32_t code, const std::string& name, const std::string& operation,
                    const std::string& description) {
  const std::string hex = QuorResultCodeHex(code);
  std::string text = name == hex ? hex : name + " (" + hex + ")";
  return text + ": " + (description.empty() ? operation + " failed" : description);
}

std::string NameOrHex(std::int32_t code) {
  std::string name = QuorResultCodeName(code);
  return name.empty() ? QuorResultCodeHex(code) : name;
}

template <class E, std::size_t N>
std::vector<std::string> Words(E flags, const std::array<const char*, N>& names) {
  std::vector<std::string> words;
  const auto bits = static_cast<std::uint32_t>(flags);
  for (std::size_t i = 0; i < 32; ++i) {
    const std::uint32_t bit = std::uint32_t{1} << i;
    if ((bits & bit) == 0) continue;
    if (i < N) {
      words.push_back(names[i]);
    } else {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%X", bit);
      words.push_back(hex);
    }
  }
  return words;
}

struct NamedFormat {
  const GUID* id;
  const char* name;
};
constexpr NamedFormat kFormats[] = {
    {&kQuorFormatAudioAac, "AAC"},     {&kQuorFormatAudioOpus, "Opus"},
    {&kQuorFormatAudioMp3, "MP3"},     {&kQuorFormatAudioPcm, "PCM"},
    {&kQuorFormatVideoH264, "H.264"},  {&kQuorFormatVideoH265, "H.265"},
    {&kQuorFormatVideoMjpeg, "MJPEG"}, {&kQuorFormatVideoMpeg4Part2, "MPEG-4 Part 2"},
    {&kQuorFormatVideoVp8, "VP8"},     {&kQuorFormatVideoVp9, "VP9"},
    {&kQuorFormatVideoAv1, "AV1"},
};

}  // namespace

Error::Error(std::int32_t code, std::string operation, std::string description)
    : std::runtime_error(Compose(code, NameOrHex(code), operation, description)),
      m_code(code),
      m_codeName(NameOrHex(code)),
      m_operation(std::move(operation)),
      m_description(std::move(description)) {}

std::string codeName(std::int32_t code) { return QuorResultCodeName(code); }

std::span<const NamedCode> namedCodes() noexcept {
  static const std::vector<NamedCode> codes = [] {
    std::vector<NamedCode> failures;
    for (const CQuorNamedResultCode& n : kQuorNamedResultCodes) {
      if (FAILED(n.hr)) failures.push_back({n.hr, n.name});
    }
    return failures;
  }();
  return codes;
}

std::vector<std::string> words(SampleFlags flags) {
  static constexpr std::array<const char*, 5> kNames = {"key", "video", "audio", "not-key", "mark"};
  return Words(flags, kNames);
}

std::vector<std::string> words(FileStatus status) {
  static constexpr std::array<const char*, 6> kNames = {
      "last", "finalized", "authentic", "tested", "recovered", "track-info-unreadable"};
  return Words(status, kNames);
}

std::string_view name(WriterState state) noexcept {
  switch (state) {
    case WriterState::Created:
      return "created";
    case WriterState::Initialized:
      return "initialized";
    case WriterState::ReadyToStart:
      return "ready";
    case WriterState::Started:
      return "started";
    case WriterState::Finished:
      return "finished";
  }
  return "unknown";
}

std::string formatName(std::string_view identifier) {
  GUID id = GUID_NULL;
  if (FAILED(QuorGuidFromString(std::string(identifier), &id))) return {};
  for (const NamedFormat& f : kFormats) {
    if (*f.id == id) return f.name;
  }
  return {};
}

std::string formatIdentifier(std::string_view nameOrIdentifier) {
  if (nameOrIdentifier.starts_with('{')) return std::string(nameOrIdentifier);
  for (const NamedFormat& f : kFormats) {
    if (nameOrIdentifier == f.name) return QuorGuidToString(*f.id);
  }
  throw Error(E_INVALIDARG, "formatIdentifier",
              "unknown format name \"" + std::string(nameOrIdentifier) + "\"");
}

namespace detail {

CQuorBstr Utf8Bstr(std::string_view text, const char* what) {
  const std::u16string wide = QuorUtf8ToUtf16(text);
  if (QuorUtf16ToUtf8(wide) != text) {
    throw Error(E_INVALIDARG, what, std::string(what) + " is not valid UTF-8");
  }
  CQuorBstr bstr = CQuorBstr::FromUtf8(text);
  if (!bstr) throw std::bad_alloc();
  return bstr;
}

}  // namespace detail

}  // namespace quor
