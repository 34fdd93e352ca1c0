#include "QuorMediaMuxer.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "QuorMediaBitstream.h"
#include "QuorMediaFfmpeg.h"
#include "quormediafiles/QuorFormatIds.h"

namespace {

constexpr AVRational kVideoTimeBase = {1, 90000};

struct OutputTrack {
  const QuorCodecEntry* codec = nullptr;
  AVStream* stream = nullptr;
  std::string label;  // "track 1 (h264)"
};

// Sizes, rates and channel counts that libavcodec's parser finds in one frame.
void Parse(AVCodecID codecId, QuorByteView frame, AVCodecParameters* par) {
  std::unique_ptr<AVCodecParserContext, QuorAvDeleter> parser(av_parser_init(codecId));
  std::unique_ptr<AVCodecContext, QuorAvDeleter> context(avcodec_alloc_context3(nullptr));
  if (!parser || !context) return;
  parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
  std::vector<std::uint8_t> padded(frame.begin(), frame.end());
  padded.resize(frame.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::uint8_t* out = nullptr;
  int outSize = 0;
  (void)av_parser_parse2(parser.get(), context.get(), &out, &outSize, padded.data(),
                         static_cast<int>(frame.size()), AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                         0);  // (void): the parser reports what it found in the contexts
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    par->width = parser->width > 0 ? parser->width : context->width;
    par->height = parser->height > 0 ? parser->height : context->height;
    if (parser->format >= 0) par->format = parser->format;
  } else {
    par->sample_rate = context->sample_rate;
    if (context->ch_layout.nb_channels > 0) {
      av_channel_layout_default(&par->ch_layout, context->ch_layout.nb_channels);
    }
  }
}

void SetExtradata(AVCodecParameters* par, const QuorBytes& bytes) {
  par->extradata =
      static_cast<std::uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (par->extradata == nullptr) throw std::bad_alloc();
  std::memcpy(par->extradata, bytes.data(), bytes.size());
  par->extradata_size = static_cast<int>(bytes.size());
}

AVCodecID PcmCodec(const QuorWaveFormat& format) {
  switch (format.formatTag) {
    case 1:
      switch (format.bitsPerSample) {
        case 8:
          return AV_CODEC_ID_PCM_U8;
        case 16:
          return AV_CODEC_ID_PCM_S16LE;
        case 24:
          return AV_CODEC_ID_PCM_S24LE;
        case 32:
          return AV_CODEC_ID_PCM_S32LE;
        default:
          return AV_CODEC_ID_NONE;
      }
    case 3:
      return format.bitsPerSample == 64 ? AV_CODEC_ID_PCM_F64LE : AV_CODEC_ID_PCM_F32LE;
    case 6:
      return AV_CODEC_ID_PCM_ALAW;
    case 7:
      return AV_CODEC_ID_PCM_MULAW;
    default:
      return AV_CODEC_ID_NONE;
  }
}

// Fills par from the first key frame; an empty return means success, else what is missing.
std::string SetUp(const QuorCodecEntry& codec, QuorByteView key, AVCodecParameters* par) {
  par->codec_type = codec.video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
  par->codec_id = codec.codecId;
  switch (codec.codecId) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC: {
      const QuorBytes sets = QuorParameterSets(key, codec.codecId == AV_CODEC_ID_HEVC);
      if (sets.empty()) return "its first key frame carries no parameter sets";
      SetExtradata(par, sets);
      Parse(codec.codecId, key, par);
      break;
    }
    case AV_CODEC_ID_AAC: {
      const auto adts = QuorParseAdts(key);
      if (!adts) return "its first sample is not an ADTS frame";
      SetExtradata(par, QuorAudioSpecificConfig(adts->first));
      par->sample_rate = adts->first.SampleRate();
      av_channel_layout_default(&par->ch_layout, adts->first.Channels());
      par->frame_size = 1024;
      break;
    }
    case AV_CODEC_ID_OPUS: {
      const int channels = QuorOpusChannels(key);
      SetExtradata(par, QuorOpusHead(channels, kQuorOpusPreSkip));
      par->sample_rate = 48000;
      av_channel_layout_default(&par->ch_layout, channels);
      break;
    }
    case AV_CODEC_ID_AV1: {
      const QuorBytes header = QuorAv1SequenceHeader(key);
      if (header.empty()) return "its first key frame carries no sequence header";
      SetExtradata(par, header);
      Parse(codec.codecId, key, par);
      break;
    }
    case AV_CODEC_ID_MPEG4: {
      static constexpr std::uint8_t kVopStart[] = {0, 0, 1, 0xB6};
      const auto vop =
          std::search(key.begin(), key.end(), std::begin(kVopStart), std::end(kVopStart));
      if (vop == key.begin() || vop == key.end()) return "its first key frame has no VOL header";
      SetExtradata(par, QuorBytes(key.begin(), vop));
      Parse(codec.codecId, key, par);
      break;
    }
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_VP8:
    case AV_CODEC_ID_MJPEG: {
      const std::optional<QuorFrameSize> size =
          codec.codecId == AV_CODEC_ID_VP9   ? QuorVp9KeyFrameSize(key)
          : codec.codecId == AV_CODEC_ID_VP8 ? QuorVp8KeyFrameSize(key)
                                             : QuorJpegSize(key);
      if (!size) return "its first key frame does not give the frame size";
      par->width = size->width;
      par->height = size->height;
      if (codec.codecId == AV_CODEC_ID_VP9) {
        par->profile = size->profile;
        par->format = size->profile == 0   ? AV_PIX_FMT_YUV420P
                      : size->profile == 2 ? AV_PIX_FMT_YUV420P10
                                           : AV_PIX_FMT_YUV444P;
      }
      break;
    }
    case AV_CODEC_ID_MP3:
      Parse(codec.codecId, key, par);
      if (par->sample_rate <= 0) return "its first sample is not an MPEG audio frame";
      break;
    default: {  // PCM
      const auto wave = QuorParseWave(key);
      if (!wave || PcmCodec(wave->first) == AV_CODEC_ID_NONE) {
        return "its first sample is not a WAVE file of a known PCM format";
      }
      par->codec_id = PcmCodec(wave->first);
      par->sample_rate = static_cast<int>(wave->first.sampleRate);
      av_channel_layout_default(&par->ch_layout, wave->first.channels);
      par->bits_per_coded_sample = wave->first.bitsPerSample;
      par->block_align = wave->first.channels * ((wave->first.bitsPerSample + 7) / 8);
      break;
    }
  }
  if (codec.video && (par->width <= 0 || par->height <= 0)) return "its frame size is unknown";
  if (!codec.video && par->sample_rate <= 0) return "its sample rate is unknown";
  return {};
}

}  // namespace

struct CQuorMediaMuxer::State {
  std::string path;
  AVFormatContext* output = nullptr;
  std::map<ULONG, OutputTrack> tracks;
  ULONGLONG base = 0;
  QuorPacketPtr packet{av_packet_alloc()};
  bool headerWritten = false;
  bool finished = false;

  ~State() {
    if (output != nullptr) {
      if (headerWritten && !finished) (void)av_write_trailer(output);  // (void): abandoned file
      if ((output->oformat->flags & AVFMT_NOFILE) == 0) (void)avio_closep(&output->pb);
      avformat_free_context(output);
    }
  }

  [[noreturn]] void Fail(const std::string& what, int status) const {
    throw CQuorMediaError(path + ": " + what + " (" + QuorAvError(status) + ")");
  }
};

std::string CQuorMediaMuxer::ContainerFor(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "mp4") return "mp4";
  if (extension == "mkv") return "matroska";
  if (extension == "ts") return "mpegts";
  throw CQuorMediaError(path + ": the extension chooses the container: .mp4, .mkv or .ts");
}

CQuorMediaMuxer::CQuorMediaMuxer(const std::string& path, const std::string& container,
                                 const std::vector<QuorMuxTrack>& tracks, ULONGLONG baseTimestamp)
    : m_state(std::make_unique<State>()) {
  State& s = *m_state;
  s.path = path;
  s.base = baseTimestamp;
  if (!s.packet) throw std::bad_alloc();
  av_log_set_level(AV_LOG_QUIET);
  int status = avformat_alloc_output_context2(&s.output, nullptr, container.c_str(), path.c_str());
  if (status < 0) s.Fail("no " + container + " muxer", status);
  for (const QuorMuxTrack& in : tracks) {
    OutputTrack out;
    out.codec = QuorCodecByFormat(in.track.format);
    out.label = "track " + std::to_string(in.track.trackId);
    if (out.codec == nullptr) {
      throw CQuorMediaError(out.label + ": its format identifier has no codec to export");
    }
    out.label += std::string(" (") + avcodec_get_name(out.codec->codecId) + ")";
    out.stream = avformat_new_stream(s.output, nullptr);
    if (out.stream == nullptr) throw std::bad_alloc();
    const std::string missing = SetUp(*out.codec, in.firstKeyFrame, out.stream->codecpar);
    if (!missing.empty()) throw CQuorMediaError(out.label + ": cannot be exported: " + missing);
    if (avformat_query_codec(s.output->oformat, out.stream->codecpar->codec_id,
                             FF_COMPLIANCE_NORMAL) == 0) {
      throw CQuorMediaError(out.label + ": the " + container + " container cannot hold it");
    }
    out.stream->time_base =
        out.codec->video ? kVideoTimeBase : AVRational{1, out.stream->codecpar->sample_rate};
    if (!in.track.name.empty())
      av_dict_set(&out.stream->metadata, "title", in.track.name.c_str(), 0);
    s.tracks[in.track.trackId] = out;
  }
  if ((s.output->oformat->flags & AVFMT_NOFILE) == 0) {
    status = avio_open(&s.output->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) s.Fail("cannot be created", status);
  }
  status = avformat_write_header(s.output, nullptr);
  if (status < 0) s.Fail("the container header cannot be written", status);
  s.headerWritten = true;
}

CQuorMediaMuxer::~CQuorMediaMuxer() = default;

void CQuorMediaMuxer::Write(ULONG trackId, ULONGLONG timestamp, bool keyFrame,
                            std::span<const std::uint8_t> payload) {
  State& s = *m_state;
  const auto found = s.tracks.find(trackId);
  if (found == s.tracks.end()) return;
  const OutputTrack& track = found->second;
  // The packet is the sample less the in-band forms the container keeps elsewhere: a header in
  // front (ADTS, WAVE) or the presentation-offset SEI unit. A form in front is skipped; an SEI unit
  // behind an access unit delimiter is cut out of a copy.
  QuorByteView data(payload);
  std::optional<QuorPresentationSei> sei;
  switch (track.codec->codecId) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
      sei = QuorFindPresentationOffset(data, track.codec->codecId == AV_CODEC_ID_HEVC);
      if (sei && sei->begin == 0) data = data.subspan(sei->end);
      break;
    case AV_CODEC_ID_AAC:
      if (const auto adts = QuorParseAdts(data)) data = data.subspan(adts->second);
      break;
    default:
      if (*track.codec->format == kQuorFormatAudioPcm) {
        if (const auto wave = QuorParseWave(data)) data = data.subspan(wave->second);
      }
      break;
  }
  const std::size_t gap = sei && sei->begin > 0 ? sei->end - sei->begin : 0;
  if (data.size() <= gap) return;
  AVPacket* packet = s.packet.get();
  if (gap == 0) {
    // Not reference-counted: the muxer writes it during the call and keeps no reference.
    packet->data = const_cast<std::uint8_t*>(data.data());
    packet->size = static_cast<int>(data.size());
  } else {
    if (av_new_packet(packet, static_cast<int>(data.size() - gap)) < 0) throw std::bad_alloc();
    std::memcpy(packet->data, data.data(), sei->begin);
    std::memcpy(packet->data + sei->begin, data.data() + sei->end, data.size() - sei->end);
  }
  const std::int64_t offsetUs = sei ? sei->offsetUs : 0;
  const std::int64_t decodeUs = static_cast<std::int64_t>(timestamp - s.base);
  packet->dts = av_rescale_q(decodeUs, kQuorMicroseconds, track.stream->time_base);
  packet->pts = av_rescale_q(decodeUs + offsetUs, kQuorMicroseconds, track.stream->time_base);
  packet->stream_index = track.stream->index;
  packet->flags = keyFrame ? AV_PKT_FLAG_KEY : 0;
  // Samples arrive in decode order across the tracks already: no interleaving queue (which would
  // copy every packet that is not reference-counted).
  const int status = av_write_frame(s.output, packet);
  av_packet_unref(packet);
  if (status < 0) s.Fail(track.label + ": a sample cannot be written", status);
}

void CQuorMediaMuxer::Finish() {
  State& s = *m_state;
  s.finished = true;
  int status = av_write_trailer(s.output);
  if (status < 0) s.Fail("the container trailer cannot be written", status);
  if ((s.output->oformat->flags & AVFMT_NOFILE) == 0) {
    status = avio_closep(&s.output->pb);
    if (status < 0) s.Fail("cannot be closed", status);
  }
}
