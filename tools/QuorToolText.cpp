#include "QuorToolText.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "quormediafiles/quor.hpp"

std::string QuorJoin(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += separator;
    text += word;
  }
  return text;
}

std::string QuorFormatName(const std::string& bracedGuid) { return quor::formatName(bracedGuid); }

std::string QuorHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

std::string QuorPayloadMd5(std::span<const std::uint8_t> bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
    return "?";
  }
  return QuorHex({digest, length});
}

std::string QuorUtcTime(ULONGLONG seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (gmtime_r(&time, &utc) == nullptr) return "?";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

std::string QuorByteCount(ULONGLONG bytes) {
  char text[32];
  if (bytes >= 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else if (bytes >= 1024) {
    std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(bytes / 1024));
  } else {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  }
  return text;
}

bool QuorStderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void QuorDrawProgress(const std::string& label, unsigned percent) {
  constexpr unsigned kWidth = 40;
  const unsigned shown = std::min(percent, 100u);
  const unsigned filled = shown * kWidth / 100;
  std::string bar(filled, '#');
  bar.append(kWidth - filled, '.');
  std::fprintf(stderr, "\r%s [%s] %3u%%", label.c_str(), bar.c_str(), shown);
  std::fflush(stderr);
}

void QuorClearProgress() {
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
}
