// The in-band forms that keep an imported sample self-describing, and the readers that recover a
// stream's set-up from them on export. Pure byte work, no FFmpeg: Annex B NAL units and the
// presentation-offset SEI of H.264/H.265, ADTS headers of AAC, the WAVE header of a PCM sample,
// the sequence header OBU of AV1, and the frame sizes held in VP9, VP8 and JPEG key frames.
// Stateless; any thread. Decoders take the bytes they are given and never read past them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

using QuorBytes = std::vector<std::uint8_t>;
using QuorByteView = std::span<const std::uint8_t>;

// One NAL unit of an Annex B access unit: where its start code begins, where its header begins
// and where it ends (the next start code or the end of the data).
struct QuorNalUnit {
  std::size_t startCode = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
};
// Calls visit for each unit in order until it returns false.
void QuorForEachAnnexBUnit(QuorByteView data, const std::function<bool(const QuorNalUnit&)>& visit);
std::vector<QuorNalUnit> QuorAnnexBUnits(QuorByteView data);
// The NAL unit type of a unit's first header byte.
inline int QuorH264NalType(std::uint8_t header) { return header & 0x1F; }
inline int QuorH265NalType(std::uint8_t header) { return (header >> 1) & 0x3F; }

// H.264/H.265 parameter-set units (SPS and PPS; for H.265 also VPS) of an access unit before its
// first slice, each with a 4-byte start code, in stream order: the decoder configuration of a key
// frame.
QuorBytes QuorParameterSets(QuorByteView accessUnit, bool hevc);

// The presentation offset (presentation time minus decode time, microseconds) travels in a
// user-data-unregistered SEI message under the UUID below. Decoders skip such messages.
// Inserts the SEI unit into an Annex B access unit: after an access unit delimiter when the unit
// starts with one, else first.
QuorBytes QuorWithPresentationOffset(QuorByteView accessUnit, bool hevc, std::int64_t offsetUs);
// Finds that SEI unit (the first unit, or the second after a delimiter): its bytes, start code
// included, and the offset; nullopt when the access unit has none.
struct QuorPresentationSei {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::int64_t offsetUs = 0;
};
std::optional<QuorPresentationSei> QuorFindPresentationOffset(QuorByteView accessUnit, bool hevc);
// The access unit without that SEI unit; *offsetUs is 0 when it has none.
QuorBytes QuorTakePresentationOffset(QuorByteView accessUnit, bool hevc, std::int64_t* offsetUs);

// AAC: the fields an ADTS header and a two-byte AudioSpecificConfig share.
struct QuorAacConfig {
  int objectType = 2;  // 2 = AAC LC; ADTS carries object types 1 to 4
  int frequencyIndex = 0;
  int channelConfig = 0;
  int SampleRate() const;
  int Channels() const { return channelConfig == 7 ? 8 : channelConfig; }
};
inline constexpr std::size_t kQuorAdtsHeaderSize = 7;             // without CRC
inline constexpr std::size_t kQuorAdtsMaxFrame = (1u << 13) - 1;  // 13-bit frame length
// Parses an AudioSpecificConfig (with explicit SBR/PS signalling reduced to its core); nullopt
// for a form ADTS cannot describe (explicit sample rate, a program config element).
std::optional<QuorAacConfig> QuorParseAudioSpecificConfig(QuorByteView asc);
QuorBytes QuorAudioSpecificConfig(const QuorAacConfig& config);
bool QuorIsAdts(QuorByteView frame);
// The 7-byte header for a raw frame of payloadSize bytes.
std::array<std::uint8_t, kQuorAdtsHeaderSize> QuorAdtsHeader(const QuorAacConfig& config,
                                                             std::size_t payloadSize);
// The configuration and header size (7 or 9) of an ADTS frame; nullopt when it is not one.
std::optional<std::pair<QuorAacConfig, std::size_t>> QuorParseAdts(QuorByteView frame);

// PCM: each sample is a whole WAVE file, 44 bytes of RIFF header before the packet's samples.
struct QuorWaveFormat {
  std::uint16_t formatTag = 1;  // 1 integer PCM, 3 IEEE float, 6 A-law, 7 mu-law
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint16_t bitsPerSample = 0;
};
inline constexpr std::size_t kQuorWaveHeaderSize = 12 + (8 + 16) + 8;  // RIFF, fmt, data heads
static_assert(kQuorWaveHeaderSize == 44);
QuorBytes QuorWaveSample(const QuorWaveFormat& format, QuorByteView samples);
// The format and the offset of the samples; nullopt when the bytes are not such a WAVE file.
std::optional<std::pair<QuorWaveFormat, std::size_t>> QuorParseWave(QuorByteView sample);

// AV1: whether a temporal unit holds a sequence header OBU, and that OBU (empty when none).
QuorBytes QuorAv1SequenceHeader(QuorByteView temporalUnit);

struct QuorFrameSize {
  int width = 0;
  int height = 0;
  int profile = 0;  // VP9 only
};
// The coded size of a VP9 key frame (its uncompressed header), a VP8 key frame, or a JPEG image
// (its start-of-frame marker); nullopt when the bytes do not start such a frame.
std::optional<QuorFrameSize> QuorVp9KeyFrameSize(QuorByteView frame);
std::optional<QuorFrameSize> QuorVp8KeyFrameSize(QuorByteView frame);
std::optional<QuorFrameSize> QuorJpegSize(QuorByteView image);

// Opus: 1 or 2 from the stereo bit of a packet's TOC byte; the identification header a
// container needs for such a stream (channel mapping family 0).
int QuorOpusChannels(QuorByteView packet);
QuorBytes QuorOpusHead(int channels, int preSkip);
inline constexpr int kQuorOpusPreSkip = 312;  // libopus' encoder delay at 48 kHz
