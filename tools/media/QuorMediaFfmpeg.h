// The FFmpeg pieces import and export share: the codec table that maps libavcodec's codec ids to
// the format identifiers playback recognises, owners for libav objects, and error texts. Only the
// media library's own sources include this header.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <memory>
#include <string>

#include "quormediafiles/platform/QuorTypes.h"

struct QuorCodecEntry {
  AVCodecID codecId;
  const GUID* format;
  bool video;
};
// The entry of a codec id; the PCM formats that fit a WAVE header share the PCM entry. Null for
// any other codec.
const QuorCodecEntry* QuorCodecById(AVCodecID codecId);
// The entry of a format identifier (its codec id is the one export writes; for PCM the WAVE
// header decides). Null for an identifier outside the table.
const QuorCodecEntry* QuorCodecByFormat(const GUID& format);

// "Invalid data found when processing input" for an AVERROR code.
std::string QuorAvError(int code);

inline constexpr AVRational kQuorMicroseconds = {1, 1000000};

struct QuorAvDeleter {
  void operator()(AVPacket* p) const noexcept { av_packet_free(&p); }
  void operator()(AVBSFContext* p) const noexcept { av_bsf_free(&p); }
  void operator()(AVCodecParserContext* p) const noexcept { av_parser_close(p); }
  void operator()(AVCodecContext* p) const noexcept { avcodec_free_context(&p); }
};
using QuorPacketPtr = std::unique_ptr<AVPacket, QuorAvDeleter>;
using QuorBsfPtr = std::unique_ptr<AVBSFContext, QuorAvDeleter>;
