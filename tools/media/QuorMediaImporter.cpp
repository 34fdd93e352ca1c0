#include "QuorMediaImporter.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>

#include "QuorMediaBitstream.h"
#include "QuorMediaFfmpeg.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace {

// Packets read ahead to find the earliest decode time before the first sample leaves.
constexpr std::size_t kLookaheadPackets = 256;

struct InputTrack {
  QuorMediaTrack track;
  AVStream* stream = nullptr;
  QuorBsfPtr filter;        // Annex B conversion or header repetition; null: packets as they are
  QuorBytes parameterSets;  // H.264/H.265: the last ones seen, Annex B
  QuorBytes av1SequenceHeader;
  std::optional<QuorAacConfig> aac;
  QuorWaveFormat wave;
  bool seenKeyFrame = false;
  ULONGLONG dropped = 0;
  ULONGLONG packets = 0;                     // accepted
  std::int64_t packetsRead = 0;              // as the demuxer handed them out
  std::optional<std::int64_t> lastDecodeUs;  // before the origin is taken off
};

// One filtered packet waiting for the origin.
struct Pending {
  std::size_t track = 0;
  std::int64_t decodeUs = 0;
  QuorMediaSample sample;
};

std::string StreamName(const AVStream* stream) {
  return "stream " + std::to_string(stream->index) + " (" +
         avcodec_get_name(stream->codecpar->codec_id) + ")";
}

std::string TrackName(const AVStream* stream, bool video, int number) {
  const AVDictionaryEntry* title = av_dict_get(stream->metadata, "title", nullptr, 0);
  if (title != nullptr && title->value[0] != '\0') return title->value;
  std::string name = std::string(video ? "video " : "audio ") + std::to_string(number);
  const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0);
  if (language != nullptr && language->value[0] != '\0' && std::string(language->value) != "und") {
    name += std::string(" (") + language->value + ")";
  }
  return name;
}

QuorBsfPtr MakeFilter(const char* name, const AVStream* stream, const char* option = nullptr,
                      const char* value = nullptr) {
  const AVBitStreamFilter* kind = av_bsf_get_by_name(name);
  AVBSFContext* raw = nullptr;
  if (kind == nullptr || av_bsf_alloc(kind, &raw) < 0) {
    throw CQuorMediaError(std::string("the bitstream filter ") + name + " is not available");
  }
  QuorBsfPtr filter(raw);
  if (avcodec_parameters_copy(filter->par_in, stream->codecpar) < 0) throw std::bad_alloc();
  filter->time_base_in = stream->time_base;
  if (option != nullptr) av_opt_set(filter->priv_data, option, value, 0);
  const int status = av_bsf_init(filter.get());
  if (status < 0) {
    throw CQuorMediaError(StreamName(stream) + ": " + name + ": " + QuorAvError(status));
  }
  return filter;
}

std::optional<QuorWaveFormat> WaveFormat(const AVCodecParameters* par) {
  QuorWaveFormat format;
  switch (par->codec_id) {
    case AV_CODEC_ID_PCM_U8:
      format = {1, 0, 0, 8};
      break;
    case AV_CODEC_ID_PCM_S16LE:
      format = {1, 0, 0, 16};
      break;
    case AV_CODEC_ID_PCM_S24LE:
      format = {1, 0, 0, 24};
      break;
    case AV_CODEC_ID_PCM_S32LE:
      format = {1, 0, 0, 32};
      break;
    case AV_CODEC_ID_PCM_F32LE:
      format = {3, 0, 0, 32};
      break;
    case AV_CODEC_ID_PCM_F64LE:
      format = {3, 0, 0, 64};
      break;
    case AV_CODEC_ID_PCM_ALAW:
      format = {6, 0, 0, 8};
      break;
    case AV_CODEC_ID_PCM_MULAW:
      format = {7, 0, 0, 8};
      break;
    default:
      return std::nullopt;
  }
  format.channels = static_cast<std::uint16_t>(par->ch_layout.nb_channels);
  format.sampleRate = static_cast<std::uint32_t>(par->sample_rate);
  return format;
}

bool IsAnnexB(const AVCodecParameters* par) {
  return par->extradata_size >= 3 && par->extradata[0] == 0 && par->extradata[1] == 0 &&
         (par->extradata[2] == 1 ||
          (par->extradata_size >= 4 && par->extradata[2] == 0 && par->extradata[3] == 1));
}

QuorByteView View(const AVPacket* packet) {
  return {packet->data, static_cast<std::size_t>(packet->size)};
}

}  // namespace

struct CQuorMediaImporter::State {
  std::string input;
  AVFormatContext* format = nullptr;
  std::vector<InputTrack> tracks;
  std::vector<QuorMediaTrack> trackList;
  std::map<int, std::size_t> trackOfStream;
  std::vector<std::string> skipped;
  QuorPacketPtr packet{av_packet_alloc()};
  QuorPacketPtr filtered{av_packet_alloc()};
  std::deque<Pending> pending;
  std::optional<std::int64_t> originUs;
  bool inputEnded = false;
  bool (*stopRequested)() = nullptr;
  bool stopped = false;
  ULONGLONG packetsRead = 0;

  ~State() { avformat_close_input(&format); }

  void Open(bool skipUnsupported);
  void SetUpTrack(AVStream* stream, const QuorCodecEntry& codec, int number);
  // Reads and filters until at least one sample is pending; false at the end of the input.
  bool ReadMore();
  void Accept(std::size_t trackIndex, AVPacket* packet);
  QuorMediaSample MakeSample(InputTrack& track, const AVPacket* packet,
                             std::int64_t presentationOffsetUs);
};

CQuorMediaImporter::CQuorMediaImporter(const std::string& input, bool skipUnsupported,
                                       bool (*stopRequested)())
    : m_state(std::make_unique<State>()) {
  m_state->input = input;
  m_state->stopRequested = stopRequested;
  m_state->Open(skipUnsupported);
}

CQuorMediaImporter::~CQuorMediaImporter() = default;

void CQuorMediaImporter::State::Open(bool skipUnsupported) {
  if (!packet || !filtered) throw std::bad_alloc();
  av_log_set_level(AV_LOG_QUIET);  // failures reach the user as one line each, below
  format = avformat_alloc_context();
  if (format == nullptr) throw std::bad_alloc();
  if (stopRequested != nullptr) {
    format->interrupt_callback = {
        [](void* state) { return static_cast<State*>(state)->stopRequested() ? 1 : 0; }, this};
  }
  int status = avformat_open_input(&format, input.c_str(), nullptr, nullptr);
  if (status < 0) {
    throw CQuorMediaError(input + ": not media that can be read (" + QuorAvError(status) + ")");
  }
  status = avformat_find_stream_info(format, nullptr);
  if (status < 0) {
    throw CQuorMediaError(input + ": the streams cannot be read (" + QuorAvError(status) + ")");
  }
  int videoCount = 0, audioCount = 0;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    AVStream* stream = format->streams[i];
    const AVMediaType type = stream->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) {
      skipped.push_back(StreamName(stream) + ": neither video nor audio");
      stream->discard = AVDISCARD_ALL;
      continue;
    }
    const QuorCodecEntry* codec = QuorCodecById(stream->codecpar->codec_id);
    std::string refusal;
    if (codec == nullptr) {
      refusal = "the codec has no format identifier";
    } else if (codec->codecId == AV_CODEC_ID_OPUS && stream->codecpar->ch_layout.nb_channels > 2) {
      refusal = "Opus with more than two channels is not supported";
    }
    if (!refusal.empty()) {
      if (!skipUnsupported) {
        throw CQuorMediaError(input + ": " + StreamName(stream) + ": " + refusal +
                              " (--skip-unsupported leaves such streams out)");
      }
      skipped.push_back(StreamName(stream) + ": " + refusal);
      stream->discard = AVDISCARD_ALL;
      continue;
    }
    SetUpTrack(stream, *codec, type == AVMEDIA_TYPE_VIDEO ? ++videoCount : ++audioCount);
  }
  if (tracks.empty()) throw CQuorMediaError(input + ": no video or audio stream to import");
  for (const InputTrack& track : tracks) trackList.push_back(track.track);
}

void CQuorMediaImporter::State::SetUpTrack(AVStream* stream, const QuorCodecEntry& codec,
                                           int number) {
  InputTrack track;
  track.stream = stream;
  track.track.trackId = static_cast<ULONG>(tracks.size() + 1);
  track.track.video = codec.video;
  track.track.format = *codec.format;
  track.track.codec = avcodec_get_name(stream->codecpar->codec_id);
  track.track.sourceIndex = stream->index;
  track.track.name = TrackName(stream, codec.video, number);
  const AVCodecParameters* par = stream->codecpar;
  switch (par->codec_id) {
    case AV_CODEC_ID_H264:
      track.filter = MakeFilter("h264_mp4toannexb", stream);
      break;
    case AV_CODEC_ID_HEVC:
      track.filter = MakeFilter("hevc_mp4toannexb", stream);
      break;
    case AV_CODEC_ID_MPEG4:
      track.filter = MakeFilter("dump_extra", stream, "freq", "keyframe");
      break;
    case AV_CODEC_ID_AAC:
      if (par->extradata_size > 0) {
        track.aac = QuorParseAudioSpecificConfig(
            {par->extradata, static_cast<std::size_t>(par->extradata_size)});
      }
      break;
    case AV_CODEC_ID_AV1:
      if (par->extradata_size > 4) {
        // An av1C box body keeps its configuration OBUs after a 4-byte header.
        const std::size_t skip = (par->extradata[0] & 0x80) != 0 ? 4 : 0;
        track.av1SequenceHeader = QuorAv1SequenceHeader(
            {par->extradata + skip, static_cast<std::size_t>(par->extradata_size) - skip});
      }
      break;
    default:
      if (const std::optional<QuorWaveFormat> wave = WaveFormat(par)) track.wave = *wave;
      break;
  }
  if ((par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC) && IsAnnexB(par)) {
    track.parameterSets =
        QuorParameterSets({par->extradata, static_cast<std::size_t>(par->extradata_size)},
                          par->codec_id == AV_CODEC_ID_HEVC);
  }
  trackOfStream[stream->index] = tracks.size();
  tracks.push_back(std::move(track));
}

bool CQuorMediaImporter::State::ReadMore() {
  while (pending.empty() || (!originUs && pending.size() < kLookaheadPackets &&
                             std::any_of(tracks.begin(), tracks.end(),
                                         [](const InputTrack& t) { return t.packets == 0; }))) {
    if (inputEnded) return !pending.empty();
    const int status = av_read_frame(format, packet.get());
    stopped = status == AVERROR_EXIT && stopRequested != nullptr && stopRequested();
    if (status == AVERROR_EOF || stopped) {
      inputEnded = true;
      // An index that lists more packets than the file held: the file was cut off.
      for (const InputTrack& track : tracks) {
        if (!stopped && track.stream->nb_frames > track.packetsRead) {
          throw CQuorMediaError(input + ": " + StreamName(track.stream) + ": the file ends after " +
                                std::to_string(track.packetsRead) + " of its " +
                                std::to_string(track.stream->nb_frames) + " packets (truncated)");
        }
      }
      for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].filter) {
          (void)av_bsf_send_packet(tracks[i].filter.get(), nullptr);  // (void): drained below
          while (av_bsf_receive_packet(tracks[i].filter.get(), filtered.get()) == 0) {
            Accept(i, filtered.get());
            av_packet_unref(filtered.get());
          }
        }
      }
      continue;
    }
    if (status < 0) {
      throw CQuorMediaError(input + ": reading failed after " + std::to_string(packetsRead) +
                            " packets (" + QuorAvError(status) + ")");
    }
    ++packetsRead;
    const auto found = trackOfStream.find(packet->stream_index);
    if (found == trackOfStream.end()) {
      av_packet_unref(packet.get());
      continue;
    }
    InputTrack& track = tracks[found->second];
    ++track.packetsRead;
    if (!track.filter) {
      Accept(found->second, packet.get());
      av_packet_unref(packet.get());
      continue;
    }
    const int sent = av_bsf_send_packet(track.filter.get(), packet.get());
    av_packet_unref(packet.get());
    if (sent < 0) {
      throw CQuorMediaError(input + ": " + StreamName(track.stream) + ": " + QuorAvError(sent));
    }
    int received = 0;
    while ((received = av_bsf_receive_packet(track.filter.get(), filtered.get())) == 0) {
      Accept(found->second, filtered.get());
      av_packet_unref(filtered.get());
    }
    if (received != AVERROR(EAGAIN) && received != AVERROR_EOF) {
      throw CQuorMediaError(input + ": " + StreamName(track.stream) + ": " + QuorAvError(received));
    }
  }
  if (!originUs) {
    std::int64_t origin = std::numeric_limits<std::int64_t>::max();
    for (const Pending& p : pending) origin = std::min(origin, p.decodeUs);
    originUs = origin;
  }
  return true;
}

void CQuorMediaImporter::State::Accept(std::size_t trackIndex, AVPacket* inputPacket) {
  InputTrack& track = tracks[trackIndex];
  const bool key = !track.track.video || (inputPacket->flags & AV_PKT_FLAG_KEY) != 0;
  if (!track.seenKeyFrame && !key) {
    ++track.dropped;
    return;
  }
  track.seenKeyFrame = true;

  std::int64_t decode = inputPacket->dts != AV_NOPTS_VALUE ? inputPacket->dts : inputPacket->pts;
  if (decode == AV_NOPTS_VALUE) {
    throw CQuorMediaError(input + ": " + StreamName(track.stream) + ": packet " +
                          std::to_string(track.packets + 1) + " has no timestamp");
  }
  const std::int64_t decodeUs = av_rescale_q(decode, track.stream->time_base, kQuorMicroseconds);
  const std::int64_t presentationUs =
      inputPacket->pts != AV_NOPTS_VALUE
          ? av_rescale_q(inputPacket->pts, track.stream->time_base, kQuorMicroseconds)
          : decodeUs;
  if (track.lastDecodeUs && decodeUs <= *track.lastDecodeUs) {
    throw CQuorMediaError(
        input + ": " + StreamName(track.stream) + ": the timestamps do not rise at packet " +
        std::to_string(track.packets + 1) + " (" + std::to_string(decodeUs) + " us after " +
        std::to_string(*track.lastDecodeUs) + " us); the import is refused, not repaired");
  }
  if (originUs && decodeUs < *originUs) {
    throw CQuorMediaError(input + ": " + StreamName(track.stream) +
                          ": a late stream starts before the other streams' first samples");
  }
  track.lastDecodeUs = decodeUs;
  ++track.packets;
  Pending p;
  p.track = trackIndex;
  p.decodeUs = decodeUs;
  p.sample = MakeSample(track, inputPacket, presentationUs - decodeUs);
  p.sample.keyFrame = key;
  pending.push_back(std::move(p));
}

// The timestamp is set when the origin is known.
QuorMediaSample CQuorMediaImporter::State::MakeSample(InputTrack& track, const AVPacket* in,
                                                      std::int64_t presentationOffsetUs) {
  QuorMediaSample sample;
  sample.trackId = track.track.trackId;
  sample.video = track.track.video;
  sample.audio = !track.track.video;
  const QuorByteView data = View(in);
  const AVCodecID codec = track.stream->codecpar->codec_id;
  const bool key = (in->flags & AV_PKT_FLAG_KEY) != 0;
  if (presentationOffsetUs != 0 && codec != AV_CODEC_ID_H264 && codec != AV_CODEC_ID_HEVC) {
    throw CQuorMediaError(input + ": " + StreamName(track.stream) +
                          ": reordered frames are kept only for H.264 and H.265");
  }
  switch (codec) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC: {
      const bool hevc = codec == AV_CODEC_ID_HEVC;
      // Parameter sets travel with key frames; delta frames are not searched for them.
      QuorBytes sets = key ? QuorParameterSets(data, hevc) : QuorBytes();
      QuorBytes unit;
      if (!sets.empty()) {
        track.parameterSets = std::move(sets);
        unit.assign(data.begin(), data.end());
      } else if (key) {
        unit = track.parameterSets;
        unit.insert(unit.end(), data.begin(), data.end());
      } else {
        unit.assign(data.begin(), data.end());
      }
      sample.payload = presentationOffsetUs != 0
                           ? QuorWithPresentationOffset(unit, hevc, presentationOffsetUs)
                           : std::move(unit);
      break;
    }
    case AV_CODEC_ID_AAC: {
      if (QuorIsAdts(data)) {
        sample.payload.assign(data.begin(), data.end());
        break;
      }
      if (!track.aac) {
        throw CQuorMediaError(input + ": " + StreamName(track.stream) +
                              ": an AAC configuration that ADTS headers cannot describe");
      }
      if (data.size() + kQuorAdtsHeaderSize > kQuorAdtsMaxFrame) {
        throw CQuorMediaError(input + ": " + StreamName(track.stream) +
                              ": an AAC frame too long for an ADTS header");
      }
      const auto header = QuorAdtsHeader(*track.aac, data.size());
      sample.payload.assign(header.begin(), header.end());
      sample.payload.insert(sample.payload.end(), data.begin(), data.end());
      break;
    }
    case AV_CODEC_ID_AV1: {
      sample.payload.assign(data.begin(), data.end());
      if (key && !track.av1SequenceHeader.empty() && QuorAv1SequenceHeader(data).empty()) {
        // A temporal delimiter OBU (type 2, size 0) stays the first OBU of the unit.
        const bool delimiter = data.size() >= 2 && data[0] == 0x12 && data[1] == 0;
        sample.payload.insert(sample.payload.begin() + (delimiter ? 2 : 0),
                              track.av1SequenceHeader.begin(), track.av1SequenceHeader.end());
      }
      break;
    }
    default:
      if (track.wave.sampleRate != 0) {
        sample.payload = QuorWaveSample(track.wave, data);
      } else {
        sample.payload.assign(data.begin(), data.end());
      }
      break;
  }
  return sample;
}

const std::vector<QuorMediaTrack>& CQuorMediaImporter::Tracks() const noexcept {
  return m_state->trackList;
}

const std::vector<std::string>& CQuorMediaImporter::SkippedStreams() const noexcept {
  return m_state->skipped;
}

bool CQuorMediaImporter::IsUrl() const noexcept {
  const std::string& input = m_state->input;
  const std::size_t scheme = input.find("://");
  return scheme != std::string::npos && scheme > 0 && input.compare(0, 5, "file:") != 0;
}

std::optional<double> CQuorMediaImporter::DurationSeconds() const noexcept {
  const std::int64_t duration = m_state->format->duration;
  if (duration <= 0 || duration == AV_NOPTS_VALUE) return std::nullopt;
  return static_cast<double>(duration) / AV_TIME_BASE;
}

bool CQuorMediaImporter::Next(QuorMediaSample* sample) {
  State& s = *m_state;
  if (!s.ReadMore()) return false;
  Pending next = std::move(s.pending.front());
  s.pending.pop_front();
  *sample = std::move(next.sample);
  sample->timestamp = static_cast<ULONGLONG>(next.decodeUs - *s.originUs);
  return true;
}

bool CQuorMediaImporter::Stopped() const noexcept { return m_state->stopped; }

ULONGLONG CQuorMediaImporter::DroppedBeforeKeyFrame(ULONG trackId) const {
  for (const InputTrack& track : m_state->tracks) {
    if (track.track.trackId == trackId) return track.dropped;
  }
  return 0;
}
