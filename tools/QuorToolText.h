// Words and numbers as quormf prints them: format identifiers by name, digests in hex, creation
// times in UTC, byte counts, and the progress bar that goes to stderr when stderr is a terminal.
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"

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
