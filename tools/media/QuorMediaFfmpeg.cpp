#include "QuorMediaFfmpeg.h"

#include <array>

#include "quormediafiles/QuorFormatIds.h"

namespace {

constexpr std::array<QuorCodecEntry, 18> kCodecs = {{
    {AV_CODEC_ID_H264, &kQuorFormatVideoH264, true},
    {AV_CODEC_ID_HEVC, &kQuorFormatVideoH265, true},
    {AV_CODEC_ID_MJPEG, &kQuorFormatVideoMjpeg, true},
    {AV_CODEC_ID_MPEG4, &kQuorFormatVideoMpeg4Visual, true},
    {AV_CODEC_ID_VP8, &kQuorFormatVideoVp8, true},
    {AV_CODEC_ID_VP9, &kQuorFormatVideoVp9, true},
    {AV_CODEC_ID_AV1, &kQuorFormatVideoAv1, true},
    {AV_CODEC_ID_AAC, &kQuorFormatAudioAac, false},
    {AV_CODEC_ID_OPUS, &kQuorFormatAudioOpus, false},
    {AV_CODEC_ID_MP3, &kQuorFormatAudioMp3, false},
    {AV_CODEC_ID_PCM_S16LE, &kQuorFormatAudioPcm, false},
    {AV_CODEC_ID_PCM_U8, &kQuorFormatAudioPcm, false},
    {AV_CODEC_ID_PCM_S24LE, &kQuorFormatAudioPcm, false},
    {AV_CODEC_ID_PCM_S32LE, &kQuorFormatAudioPcm, false},
    {AV_CODEC_ID_PCM_F32LE, &kQuorFormatAudioPcm, false},
    {AV_CODEC_ID_PCM_F64LE, &kQuorFormatAudioPcm, false},
    {AV_CODEC_ID_PCM_ALAW, &kQuorFormatAudioPcm, false},
    {AV_CODEC_ID_PCM_MULAW, &kQuorFormatAudioPcm, false},
}};

}  // namespace

const QuorCodecEntry* QuorCodecById(AVCodecID codecId) {
  for (const QuorCodecEntry& entry : kCodecs) {
    if (entry.codecId == codecId) return &entry;
  }
  return nullptr;
}

const QuorCodecEntry* QuorCodecByFormat(const GUID& format) {
  for (const QuorCodecEntry& entry : kCodecs) {
    if (*entry.format == format) return &entry;
  }
  return nullptr;
}

std::string QuorAvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}
