// Format identifiers of the media formats that playback recognises. A recording application
// passes one of these, as text, to SetVideoFormatIdentifier or SetAudioFormatIdentifier of a
// track's metadata; the writer stores it in the track info block and the reader hands it back
// from GetTrackMetadata. The reader accepts no other format identifier: a track recorded with an
// identifier outside these two groups cannot report its metadata.
#pragma once

#include <array>

#include "quormediafiles/platform/QuorTypes.h"

// Audio formats.
// {CDA1DE42-7170-4521-8263-D371947B9AC9}
inline constexpr GUID kQuorFormatAudioAac = {
    0xCDA1DE42, 0x7170, 0x4521, {0x82, 0x63, 0xD3, 0x71, 0x94, 0x7B, 0x9A, 0xC9}};
// {4B54CF22-0D83-4BE1-AD44-4D04864076A4}
inline constexpr GUID kQuorFormatAudioOpus = {
    0x4B54CF22, 0x0D83, 0x4BE1, {0xAD, 0x44, 0x4D, 0x04, 0x86, 0x40, 0x76, 0xA4}};
// {2DD45E3E-A27C-449D-A264-018240D63BA2}
inline constexpr GUID kQuorFormatAudioMp3 = {
    0x2DD45E3E, 0xA27C, 0x449D, {0xA2, 0x64, 0x01, 0x82, 0x40, 0xD6, 0x3B, 0xA2}};
// {E6A6B520-09D9-4DF7-8DAA-BCC70E9C72D3}
inline constexpr GUID kQuorFormatAudioPcm = {
    0xE6A6B520, 0x09D9, 0x4DF7, {0x8D, 0xAA, 0xBC, 0xC7, 0x0E, 0x9C, 0x72, 0xD3}};

// Video formats.
// {B0C8D623-E1B3-4D16-9CE4-0E9A90FD9AA8}
inline constexpr GUID kQuorFormatVideoH264 = {
    0xB0C8D623, 0xE1B3, 0x4D16, {0x9C, 0xE4, 0x0E, 0x9A, 0x90, 0xFD, 0x9A, 0xA8}};
// {AE478218-2F93-4B8F-A4A8-31526779F231}
inline constexpr GUID kQuorFormatVideoH265 = {
    0xAE478218, 0x2F93, 0x4B8F, {0xA4, 0xA8, 0x31, 0x52, 0x67, 0x79, 0xF2, 0x31}};
// {C432296A-2C70-437A-8580-9AE560E30EA9}
inline constexpr GUID kQuorFormatVideoMjpeg = {
    0xC432296A, 0x2C70, 0x437A, {0x85, 0x80, 0x9A, 0xE5, 0x60, 0xE3, 0x0E, 0xA9}};
// {9CCE1A5E-E469-4246-976D-A27A48DB1980}
inline constexpr GUID kQuorFormatVideoMpeg4Visual = {
    0x9CCE1A5E, 0xE469, 0x4246, {0x97, 0x6D, 0xA2, 0x7A, 0x48, 0xDB, 0x19, 0x80}};
// {F18E87B1-E008-4F12-9EE4-2F1E5031ACF9}
inline constexpr GUID kQuorFormatVideoVp8 = {
    0xF18E87B1, 0xE008, 0x4F12, {0x9E, 0xE4, 0x2F, 0x1E, 0x50, 0x31, 0xAC, 0xF9}};
// {E5C613A5-2C32-467E-9536-F74A17692C9F}
inline constexpr GUID kQuorFormatVideoVp9 = {
    0xE5C613A5, 0x2C32, 0x467E, {0x95, 0x36, 0xF7, 0x4A, 0x17, 0x69, 0x2C, 0x9F}};
// {BCD8A3AB-262B-41EE-9142-25B0D7395EAF}
inline constexpr GUID kQuorFormatVideoAv1 = {
    0xBCD8A3AB, 0x262B, 0x41EE, {0x91, 0x42, 0x25, 0xB0, 0xD7, 0x39, 0x5E, 0xAF}};

// The two groups in the order the reader searches them, audio first.
inline constexpr std::array<GUID, 4> kQuorAudioFormatIds = {
    kQuorFormatAudioAac, kQuorFormatAudioOpus, kQuorFormatAudioMp3, kQuorFormatAudioPcm};
inline constexpr std::array<GUID, 7> kQuorVideoFormatIds = {
    kQuorFormatVideoH264, kQuorFormatVideoH265, kQuorFormatVideoMjpeg, kQuorFormatVideoMpeg4Visual,
    kQuorFormatVideoVp8,  kQuorFormatVideoVp9,  kQuorFormatVideoAv1};

// The display name of each format, as the tools and quor::formatName show it.
struct CQuorNamedFormat {
  const GUID* id;
  const char* name;
};
inline constexpr CQuorNamedFormat kQuorFormatNames[] = {
    {&kQuorFormatAudioAac, "AAC"},     {&kQuorFormatAudioOpus, "Opus"},
    {&kQuorFormatAudioMp3, "MP3"},     {&kQuorFormatAudioPcm, "PCM"},
    {&kQuorFormatVideoH264, "H.264"},  {&kQuorFormatVideoH265, "H.265"},
    {&kQuorFormatVideoMjpeg, "MJPEG"}, {&kQuorFormatVideoMpeg4Visual, "MPEG-4 Visual"},
    {&kQuorFormatVideoVp8, "VP8"},     {&kQuorFormatVideoVp9, "VP9"},
    {&kQuorFormatVideoAv1, "AV1"},
};
