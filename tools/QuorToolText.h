// Words and numbers as quormf prints them: file status flags and sample flags in words, format
// identifiers by name, digests in hex, creation times in UTC, byte counts, and the progress bar
// that goes to stderr when stderr is a terminal. Stateless; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"

// File status bits of a member file.
inline constexpr ULONG kQuorStatusLastFile = 0x01;
inline constexpr ULONG kQuorStatusFinalized = 0x02;
inline constexpr ULONG kQuorStatusAuthentic = 0x04;
inline constexpr ULONG kQuorStatusTested = 0x08;
inline constexpr ULONG kQuorStatusRecovered = 0x10;
inline constexpr ULONG kQuorStatusTrackInfoUnreadable = 0x20;

// "last", "finalized", "authentic", "tested", "recovered", "track-info-unreadable", in bit
// order; unknown bits as "0x40".
std::vector<std::string> QuorStatusWords(ULONG flags);
// "key", "video", "audio" for the set flags.
std::vector<std::string> QuorSampleFlagWords(bool keyFrame, bool video, bool audio);
std::string QuorJoin(const std::vector<std::string>& words, const char* separator);

// "H.264" for a braced format identifier of the format table, "" for any other text.
std::string QuorFormatName(const std::string& bracedGuid);

std::string QuorHex(std::span<const std::uint8_t> bytes);
// The plain (unsalted) MD5 of bytes in hex: what md5sum prints for the extracted payload.
std::string QuorPayloadMd5(std::span<const std::uint8_t> bytes);
// "2026-12-05 15:30:45 UTC" for seconds since 1970.
std::string QuorUtcTime(ULONGLONG seconds);
// "1.5 MiB", "312 KiB", "92 B".
std::string QuorByteCount(ULONGLONG bytes);

bool QuorStderrIsTerminal();
// Draws "label [#####.....]  42%" over the current stderr line.
void QuorDrawProgress(const std::string& label, unsigned percent);
// Clears the line the progress bar used.
void QuorClearProgress();
