#include "QuorMediaBitstream.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Reads bits most significant first; past the end it reads zeros and remembers the overrun.
class CBitReader {
 public:
  explicit CBitReader(QuorByteView data) noexcept : m_data(data) {}
  std::uint32_t Bits(int count) noexcept {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      std::uint32_t bit = 0;
      if (m_bit < m_data.size() * 8) {
        bit = (m_data[m_bit / 8] >> (7 - m_bit % 8)) & 1u;
      } else {
        m_overrun = true;
      }
      value = (value << 1) | bit;
      ++m_bit;
    }
    return value;
  }
  bool Overrun() const noexcept { return m_overrun; }

 private:
  QuorByteView m_data;
  std::size_t m_bit = 0;
  bool m_overrun = false;
};

constexpr std::array<int, 13> kAacSampleRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                 22050, 16000, 12000, 11025, 8000,  7350};

constexpr int kH264Sei = 6, kH264Aud = 9, kH264Sps = 7, kH264Pps = 8;
constexpr int kH265Vps = 32, kH265Sps = 33, kH265Pps = 34, kH265Aud = 35, kH265PrefixSei = 39;
constexpr std::uint8_t kUserDataUnregistered = 5;
// Identifies the presentation-offset message among user-data SEI messages.
constexpr std::array<std::uint8_t, 16> kPresentationUuid = {
    0x8C, 0x3A, 0x51, 0x0E, 0x6B, 0x2F, 0x4D, 0x1C, 0xA4, 0x77, 0x15, 0xE2, 0x90, 0x5B, 0xC8, 0x03};
// SEI payload: UUID (16) | offset in microseconds, signed big-endian (8).
constexpr std::uint8_t kPresentationPayloadSize = 16 + 8;

int NalType(std::uint8_t header, bool hevc) {
  return hevc ? QuorH265NalType(header) : QuorH264NalType(header);
}

// Inserts emulation prevention bytes so that no 00 00 0x (x <= 3) appears in the unit.
QuorBytes Escape(QuorByteView rbsp) {
  QuorBytes out;
  int zeros = 0;
  for (std::uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

QuorBytes Unescape(QuorByteView ebsp) {
  QuorBytes out;
  int zeros = 0;
  for (std::uint8_t b : ebsp) {
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

void PutLe(QuorBytes* out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t GetLe(QuorByteView data, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[at + i];
  return value;
}

std::uint32_t GetBe16(QuorByteView data, std::size_t at) {
  return (static_cast<std::uint32_t>(data[at]) << 8) | data[at + 1];
}

void PutTag(QuorBytes* out, const char* tag) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(tag[i]));
}

bool HasTag(QuorByteView data, std::size_t at, const char* tag) {
  return std::memcmp(data.data() + at, tag, 4) == 0;
}

// Reads an unsigned LEB128 number of AV1; false when it runs past the end.
bool ReadLeb128(QuorByteView data, std::size_t* at, std::uint64_t* value) {
  *value = 0;
  for (int i = 0; i < 8; ++i) {
    if (*at >= data.size()) return false;
    const std::uint8_t b = data[(*at)++];
    *value |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) return true;
  }
  return false;
}

}  // namespace

void QuorForEachAnnexBUnit(QuorByteView data,
                           const std::function<bool(const QuorNalUnit&)>& visit) {
  std::optional<QuorNalUnit> pending;
  std::size_t i = 2;
  while (i < data.size()) {
    const void* one = std::memchr(data.data() + i, 1, data.size() - i);
    if (one == nullptr) break;
    const std::size_t at =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(one) - data.data());
    i = at + 1;
    if (data[at - 1] != 0 || data[at - 2] != 0) continue;
    std::size_t start = at - 2;
    while (start > 0 && data[start - 1] == 0 && (!pending || start > pending->begin)) --start;
    if (pending) {
      pending->end = start;
      if (!visit(*pending)) return;
    }
    pending = QuorNalUnit{start, at + 1, data.size()};
    i = at + 3;
  }
  if (pending) (void)visit(*pending);  // (void): the last unit; nothing follows either way
}

std::vector<QuorNalUnit> QuorAnnexBUnits(QuorByteView data) {
  std::vector<QuorNalUnit> units;
  QuorForEachAnnexBUnit(data, [&](const QuorNalUnit& unit) {
    units.push_back(unit);
    return true;
  });
  return units;
}

QuorBytes QuorParameterSets(QuorByteView accessUnit, bool hevc) {
  QuorBytes sets;
  QuorForEachAnnexBUnit(accessUnit, [&](const QuorNalUnit& unit) {
    if (unit.begin >= unit.end) return true;
    const int type = NalType(accessUnit[unit.begin], hevc);
    const bool slice = hevc ? type < 32 : (type >= 1 && type <= 5);
    if (slice) return false;
    const bool parameterSet = hevc ? (type == kH265Vps || type == kH265Sps || type == kH265Pps)
                                   : (type == kH264Sps || type == kH264Pps);
    if (parameterSet) {
      sets.insert(sets.end(), {0, 0, 0, 1});
      sets.insert(sets.end(), accessUnit.begin() + static_cast<std::ptrdiff_t>(unit.begin),
                  accessUnit.begin() + static_cast<std::ptrdiff_t>(unit.end));
    }
    return true;
  });
  return sets;
}

QuorBytes QuorWithPresentationOffset(QuorByteView accessUnit, bool hevc, std::int64_t offsetUs) {
  QuorBytes rbsp = {kUserDataUnregistered, kPresentationPayloadSize};
  rbsp.insert(rbsp.end(), kPresentationUuid.begin(), kPresentationUuid.end());
  for (int i = 7; i >= 0; --i) {
    rbsp.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(offsetUs) >> (8 * i)));
  }
  rbsp.push_back(0x80);  // rbsp_trailing_bits
  QuorBytes sei = {0, 0, 0, 1};
  if (hevc) {
    sei.insert(sei.end(), {static_cast<std::uint8_t>(kH265PrefixSei << 1), 1});
  } else {
    sei.push_back(kH264Sei);
  }
  const QuorBytes escaped = Escape(rbsp);
  sei.insert(sei.end(), escaped.begin(), escaped.end());

  // An access unit delimiter must stay the first unit.
  std::size_t insertAt = 0;
  QuorForEachAnnexBUnit(accessUnit, [&](const QuorNalUnit& first) {
    if (first.begin < first.end &&
        NalType(accessUnit[first.begin], hevc) == (hevc ? kH265Aud : kH264Aud)) {
      insertAt = first.end;
    }
    return false;
  });
  QuorBytes out(accessUnit.begin(), accessUnit.begin() + static_cast<std::ptrdiff_t>(insertAt));
  out.insert(out.end(), sei.begin(), sei.end());
  out.insert(out.end(), accessUnit.begin() + static_cast<std::ptrdiff_t>(insertAt),
             accessUnit.end());
  return out;
}

std::optional<QuorPresentationSei> QuorFindPresentationOffset(QuorByteView accessUnit, bool hevc) {
  const std::size_t headerSize = hevc ? 2 : 1;
  std::optional<QuorPresentationSei> found;
  int seen = 0;
  QuorForEachAnnexBUnit(accessUnit, [&](const QuorNalUnit& unit) {
    ++seen;
    if (unit.begin + headerSize >= unit.end) return seen < 2;
    const int type = NalType(accessUnit[unit.begin], hevc);
    if (type == (hevc ? kH265Aud : kH264Aud)) return seen < 2;
    if (type != (hevc ? kH265PrefixSei : kH264Sei)) return false;
    const QuorBytes rbsp = Unescape(accessUnit.subspan(
        unit.begin + headerSize,
        std::min(unit.end - unit.begin - headerSize, std::size_t{2 * (2 + 16 + 8)})));
    if (rbsp.size() < 2u + kPresentationPayloadSize || rbsp[0] != kUserDataUnregistered ||
        rbsp[1] != kPresentationPayloadSize ||
        !std::equal(kPresentationUuid.begin(), kPresentationUuid.end(), rbsp.begin() + 2)) {
      return false;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | rbsp[2 + 16 + i];
    found = QuorPresentationSei{unit.startCode, unit.end, static_cast<std::int64_t>(value)};
    return false;
  });
  return found;
}

QuorBytes QuorTakePresentationOffset(QuorByteView accessUnit, bool hevc, std::int64_t* offsetUs) {
  const std::optional<QuorPresentationSei> sei = QuorFindPresentationOffset(accessUnit, hevc);
  *offsetUs = sei ? sei->offsetUs : 0;
  QuorBytes out(accessUnit.begin(), accessUnit.end());
  if (sei) {
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(sei->begin),
              out.begin() + static_cast<std::ptrdiff_t>(sei->end));
  }
  return out;
}

int QuorAacConfig::SampleRate() const {
  return frequencyIndex >= 0 && frequencyIndex < static_cast<int>(kAacSampleRates.size())
             ? kAacSampleRates[static_cast<std::size_t>(frequencyIndex)]
             : 0;
}

std::optional<QuorAacConfig> QuorParseAudioSpecificConfig(QuorByteView asc) {
  CBitReader bits(asc);
  auto objectType = [&] {
    int type = static_cast<int>(bits.Bits(5));
    return type == 31 ? 32 + static_cast<int>(bits.Bits(6)) : type;
  };
  QuorAacConfig config;
  config.objectType = objectType();
  config.frequencyIndex = static_cast<int>(bits.Bits(4));
  if (config.frequencyIndex == 15) return std::nullopt;
  config.channelConfig = static_cast<int>(bits.Bits(4));
  // SBR (5) and PS (29) signalled explicitly: the extension rate, then the core object type.
  if (config.objectType == 5 || config.objectType == 29) {
    if (bits.Bits(4) == 15) return std::nullopt;
    config.objectType = objectType();
  }
  if (bits.Overrun() || config.objectType < 1 || config.objectType > 4 ||
      config.channelConfig == 0 || config.SampleRate() == 0) {
    return std::nullopt;
  }
  return config;
}

QuorBytes QuorAudioSpecificConfig(const QuorAacConfig& config) {
  const unsigned value = (static_cast<unsigned>(config.objectType) << 11) |
                         (static_cast<unsigned>(config.frequencyIndex) << 7) |
                         (static_cast<unsigned>(config.channelConfig) << 3);
  return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

bool QuorIsAdts(QuorByteView frame) {
  return frame.size() >= kQuorAdtsHeaderSize && frame[0] == 0xFF && (frame[1] & 0xF6) == 0xF0;
}

std::array<std::uint8_t, kQuorAdtsHeaderSize> QuorAdtsHeader(const QuorAacConfig& config,
                                                             std::size_t payloadSize) {
  const std::size_t length = payloadSize + kQuorAdtsHeaderSize;
  const unsigned profile = static_cast<unsigned>(config.objectType - 1);
  const unsigned frequency = static_cast<unsigned>(config.frequencyIndex);
  const unsigned channels = static_cast<unsigned>(config.channelConfig);
  // Sync word, MPEG-4, layer 0, no CRC | profile, rate, channels | 13-bit length | fullness 0x7FF
  // (variable rate) | one raw data block.
  return {0xFF,
          0xF1,
          static_cast<std::uint8_t>((profile << 6) | (frequency << 2) | (channels >> 2)),
          static_cast<std::uint8_t>(((channels & 3) << 6) | ((length >> 11) & 3)),
          static_cast<std::uint8_t>(length >> 3),
          static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F),
          0xFC};
}

std::optional<std::pair<QuorAacConfig, std::size_t>> QuorParseAdts(QuorByteView frame) {
  if (!QuorIsAdts(frame)) return std::nullopt;
  QuorAacConfig config;
  config.objectType = ((frame[2] >> 6) & 3) + 1;
  config.frequencyIndex = (frame[2] >> 2) & 0xF;
  config.channelConfig = ((frame[2] & 1) << 2) | (frame[3] >> 6);
  const std::size_t headerSize = (frame[1] & 1) != 0 ? 7 : 9;
  if (config.SampleRate() == 0 || frame.size() < headerSize) return std::nullopt;
  return std::make_pair(config, headerSize);
}

QuorBytes QuorWaveSample(const QuorWaveFormat& format, QuorByteView samples) {
  const std::uint32_t blockAlign = format.channels * ((format.bitsPerSample + 7u) / 8u);
  QuorBytes out;
  out.reserve(kQuorWaveHeaderSize + samples.size());
  PutTag(&out, "RIFF");
  PutLe(&out, static_cast<std::uint32_t>(kQuorWaveHeaderSize - 8 + samples.size()), 4);
  PutTag(&out, "WAVE");
  PutTag(&out, "fmt ");
  PutLe(&out, 16, 4);
  PutLe(&out, format.formatTag, 2);
  PutLe(&out, format.channels, 2);
  PutLe(&out, format.sampleRate, 4);
  PutLe(&out, format.sampleRate * blockAlign, 4);
  PutLe(&out, blockAlign, 2);
  PutLe(&out, format.bitsPerSample, 2);
  PutTag(&out, "data");
  PutLe(&out, static_cast<std::uint32_t>(samples.size()), 4);
  out.insert(out.end(), samples.begin(), samples.end());
  return out;
}

std::optional<std::pair<QuorWaveFormat, std::size_t>> QuorParseWave(QuorByteView sample) {
  if (sample.size() < kQuorWaveHeaderSize || !HasTag(sample, 0, "RIFF") ||
      !HasTag(sample, 8, "WAVE") || !HasTag(sample, 12, "fmt ") || GetLe(sample, 16, 4) != 16 ||
      !HasTag(sample, 36, "data")) {
    return std::nullopt;
  }
  QuorWaveFormat format;
  format.formatTag = static_cast<std::uint16_t>(GetLe(sample, 20, 2));
  format.channels = static_cast<std::uint16_t>(GetLe(sample, 22, 2));
  format.sampleRate = GetLe(sample, 24, 4);
  format.bitsPerSample = static_cast<std::uint16_t>(GetLe(sample, 34, 2));
  if (format.channels == 0 || format.sampleRate == 0) return std::nullopt;
  return std::make_pair(format, kQuorWaveHeaderSize);
}

QuorBytes QuorAv1SequenceHeader(QuorByteView temporalUnit) {
  constexpr int kSequenceHeaderObu = 1;
  std::size_t at = 0;
  while (at < temporalUnit.size()) {
    const std::size_t start = at;
    const std::uint8_t header = temporalUnit[at++];
    const int type = (header >> 3) & 0xF;
    if ((header & 0x04) != 0) ++at;  // extension byte
    std::uint64_t size = temporalUnit.size() - std::min(at, temporalUnit.size());
    if ((header & 0x02) != 0 && !ReadLeb128(temporalUnit, &at, &size)) return {};
    if (at > temporalUnit.size() || size > temporalUnit.size() - at) return {};
    at += static_cast<std::size_t>(size);
    if (type == kSequenceHeaderObu) {
      return QuorBytes(temporalUnit.begin() + static_cast<std::ptrdiff_t>(start),
                       temporalUnit.begin() + static_cast<std::ptrdiff_t>(at));
    }
  }
  return {};
}

std::optional<QuorFrameSize> QuorVp9KeyFrameSize(QuorByteView frame) {
  CBitReader bits(frame);
  if (bits.Bits(2) != 2) return std::nullopt;  // frame marker
  int profile = static_cast<int>(bits.Bits(1));
  profile |= static_cast<int>(bits.Bits(1)) << 1;
  if (profile == 3) bits.Bits(1);
  if (bits.Bits(1) != 0) return std::nullopt;  // shows an existing frame
  if (bits.Bits(1) != 0) return std::nullopt;  // not a key frame
  bits.Bits(2);                                // show_frame, error_resilient_mode
  if (bits.Bits(24) != 0x498342) return std::nullopt;
  if (profile >= 2) bits.Bits(1);  // ten or twelve bit
  const std::uint32_t colorSpace = bits.Bits(3);
  constexpr std::uint32_t kRgb = 7;
  if (colorSpace != kRgb) {
    bits.Bits(1);                                    // color range
    if (profile == 1 || profile == 3) bits.Bits(3);  // subsampling x, y, reserved
  } else if (profile == 1 || profile == 3) {
    bits.Bits(1);
  }
  QuorFrameSize size;
  size.width = static_cast<int>(bits.Bits(16)) + 1;
  size.height = static_cast<int>(bits.Bits(16)) + 1;
  size.profile = profile;
  if (bits.Overrun()) return std::nullopt;
  return size;
}

std::optional<QuorFrameSize> QuorVp8KeyFrameSize(QuorByteView frame) {
  if (frame.size() < 10 || (frame[0] & 1) != 0 || frame[3] != 0x9D || frame[4] != 0x01 ||
      frame[5] != 0x2A) {
    return std::nullopt;
  }
  return QuorFrameSize{static_cast<int>(GetLe(frame, 6, 2) & 0x3FFF),
                       static_cast<int>(GetLe(frame, 8, 2) & 0x3FFF), 0};
}

std::optional<QuorFrameSize> QuorJpegSize(QuorByteView image) {
  if (image.size() < 4 || image[0] != 0xFF || image[1] != 0xD8) return std::nullopt;
  std::size_t at = 2;
  while (at + 4 <= image.size()) {
    if (image[at] != 0xFF) return std::nullopt;
    const std::uint8_t marker = image[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    const bool startOfFrame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame) {
      if (at + 9 > image.size()) return std::nullopt;
      return QuorFrameSize{static_cast<int>(GetBe16(image, at + 7)),
                           static_cast<int>(GetBe16(image, at + 5)), 0};
    }
    at += 2 + GetBe16(image, at + 2);
  }
  return std::nullopt;
}

int QuorOpusChannels(QuorByteView packet) {
  return !packet.empty() && (packet[0] & 0x04) != 0 ? 2 : 1;
}

QuorBytes QuorOpusHead(int channels, int preSkip) {
  QuorBytes head;
  head.insert(head.end(), {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1});
  head.push_back(static_cast<std::uint8_t>(channels));
  PutLe(&head, static_cast<std::uint32_t>(preSkip), 2);
  PutLe(&head, 48000, 4);  // input sample rate, informational
  PutLe(&head, 0, 2);      // output gain
  head.push_back(0);       // channel mapping family 0: mono or stereo
  return head;
}
