// quormf import and export on media the tests make with the ffmpeg program, read back with
// libavformat: packet counts, presentation times, key frames and a decodable first frame survive
// the round trip; bad input ends with one line, exit status 2 and nothing half-written; import
// paces a clip at its timestamps and records from a URL the test serves. Also the in-band forms of
// the samples, byte by byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "QuorMediaBitstream.h"
#include "QuorMfRun.h"
#include "support/QuorTempDir.h"

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

struct Packet {
  std::int64_t ptsUs = 0;
  bool key = false;
};

struct Media {
  bool video = false;    // it has a video stream
  bool decodes = false;  // its first video frame decodes without an error
  std::vector<AVCodecID> codecs;
  std::vector<std::vector<Packet>> packets;  // per stream, in file order
};

Media ReadMedia(const std::string& path) {
  Media media;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << path;
    return media;
  }
  (void)avformat_find_stream_info(format, nullptr);  // (void): the packets below are the check
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    media.codecs.push_back(format->streams[i]->codecpar->codec_id);
    media.video = media.video || format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  }
  media.packets.resize(format->nb_streams);
  // The first video frame goes through a decoder of the best video stream.
  const AVCodec* codec = nullptr;
  const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  AVCodecContext* context = stream >= 0 ? avcodec_alloc_context3(codec) : nullptr;
  bool decoding = context != nullptr &&
                  avcodec_parameters_to_context(context, format->streams[stream]->codecpar) >= 0 &&
                  avcodec_open2(context, codec, nullptr) >= 0;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  while (av_read_frame(format, packet) >= 0) {
    const AVRational tb = format->streams[packet->stream_index]->time_base;
    media.packets[static_cast<std::size_t>(packet->stream_index)].push_back(
        {av_rescale_q(packet->pts, tb, {1, 1000000}), (packet->flags & AV_PKT_FLAG_KEY) != 0});
    if (decoding && !media.decodes && packet->stream_index == stream) {
      decoding = avcodec_send_packet(context, packet) >= 0;
      media.decodes = decoding && avcodec_receive_frame(context, frame) == 0;
    }
    av_packet_unref(packet);
  }
  if (decoding && !media.decodes && avcodec_send_packet(context, nullptr) >= 0) {
    media.decodes = avcodec_receive_frame(context, frame) == 0;
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&context);
  avformat_close_input(&format);
  return media;
}

// Presentation times relative to the first presentation of the first stream, sorted per stream
// (containers store frames in decode order, players show them by presentation time).
std::vector<std::vector<Packet>> Normalised(const Media& media) {
  std::vector<std::vector<Packet>> out = media.packets;
  if (out.empty() || out[0].empty()) return out;
  std::int64_t zero = out[0][0].ptsUs;
  for (const Packet& p : out[0]) zero = std::min(zero, p.ptsUs);
  for (auto& stream : out) {
    for (Packet& p : stream) p.ptsUs -= zero;
    std::sort(stream.begin(), stream.end(),
              [](const Packet& a, const Packet& b) { return a.ptsUs < b.ptsUs; });
  }
  return out;
}

class QuorMfMediaTest : public QuorMfFixture {
 protected:
  // Runs the ffmpeg program quietly with args; the test media is made fresh by every test.
  void Ffmpeg(const std::string& args) {
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " >" +
                                Arg("ffmpeg.txt") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << Slurp(m_dir.Path("ffmpeg.txt"));
  }
  // A 3-second clip of a test pattern and a tone with the given codecs.
  void MakeClip(const std::string& name, const std::string& codecs) {
    Ffmpeg(
        "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate="
        "48000 -t 3 " +
        codecs + " " + Arg(name));
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(m_dir.Root())) {
      names.insert(entry.path().lexically_relative(m_dir.Root()).string());
    }
    names.erase("stdout.txt");
    names.erase("stderr.txt");
    return names;
  }
  void ExpectSameMedia(const std::string& original, const std::string& exported,
                       std::int64_t toleranceUs) {
    SCOPED_TRACE(exported);
    const Media a = ReadMedia(m_dir.Path(original)), b = ReadMedia(m_dir.Path(exported));
    ASSERT_EQ(a.codecs, b.codecs);
    const auto pa = Normalised(a), pb = Normalised(b);
    for (std::size_t s = 0; s < pa.size(); ++s) {
      SCOPED_TRACE("stream " + std::to_string(s));
      ASSERT_EQ(pa[s].size(), pb[s].size());
      for (std::size_t i = 0; i < pa[s].size(); ++i) {
        EXPECT_NEAR(pa[s][i].ptsUs, pb[s][i].ptsUs, toleranceUs) << "packet " << i;
        EXPECT_EQ(pa[s][i].key, pb[s][i].key) << "packet " << i;
      }
    }
    EXPECT_TRUE(!b.video || b.decodes);
  }
  // input: a file in the test's directory or a URL. Both expect quormf to exit with status.
  RunResult Import(const std::string& input, const std::string& extra = "") {
    const bool url = input.find("://") != std::string::npos;
    return Expect("import " + (url ? "'" + input + "'" : Arg(input)) + " " + Arg("rec/cam.qmf") +
                      " --max-size 64 --max-files 50 " + extra,
                  0);
  }
  RunResult Export(const std::string& out, const std::string& extra = "", int status = 0,
                   const std::string& says = "") {
    return Expect("export " + Arg("rec/cam.qmf") + " " + Arg(out) + " " + extra, status, says);
  }
};

TEST_F(QuorMfMediaTest, H264AndAacRoundTripThroughMp4AndMatroska) {
  // libx264's defaults use B-frames: presentation times go back and forth in decode order.
  MakeClip("in.mp4", "-c:v libx264 -g 25 -c:a aac -b:a 48k");
  // Import takes the recording settings of record: seals, durability and the index period.
  Expect("keygen " + Arg("key"), 0);
  Import("in.mp4", "--sign " + Arg("key") + " --durable --index-period 1");
  EXPECT_TRUE(m_dir.Exists("rec/cam1.qmf")) << "the 64 KiB limit rolls over";
  Expect("verify " + Arg("rec/cam.qmf") + " --key " + Arg("key.pub"), 0);
  for (const char* out : {"out.mp4", "out.mkv"}) {
    Export(out);
    // Matroska keeps milliseconds, MP4 edit lists the movie's millisecond timescale.
    ExpectSameMedia("in.mp4", out, 1000);
  }
  const Json sidecar = Json::parse(Slurp(m_dir.Path("out.mkv.json")));
  EXPECT_GE(sidecar["files"].size(), 2u);
  EXPECT_TRUE(sidecar["authentic"].get<bool>());
  EXPECT_EQ(sidecar["range"]["unit"], "microseconds");
}

// The first AV1 encoder this ffmpeg build has, with settings for speed; "" for none.
std::string Av1Encoder() {
  const std::string list = "ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw ";
  if (std::system((list + "libsvtav1").c_str()) == 0) return "libsvtav1 -preset 12";
  if (std::system((list + "libaom-av1").c_str()) == 0)
    return "libaom-av1 -cpu-used 8 -usage realtime";
  if (std::system((list + "librav1e").c_str()) == 0) return "librav1e -speed 10";
  return {};
}

TEST_F(QuorMfMediaTest, EachOtherCodecRoundTripsFromTheContainerItUsuallyTravelsIn) {
  const std::string video = "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -g 10 -c:v ";
  const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a ";
  const std::string av1 = Av1Encoder();
  // Name, input file, ffmpeg arguments that make it ("" to skip), output file.
  const std::tuple<const char*, const char*, std::string, const char*> kCases[] = {
      {"Mjpeg", "in.avi", video + "mjpeg", "out.mkv"},
      {"Mpeg4Visual", "in.avi", video + "mpeg4", "out.mp4"},
      {"Vp8", "in.webm", video + "libvpx -deadline realtime -cpu-used 8", "out.mkv"},
      {"Vp9AndOpus", "in.mkv",
       "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=48000 -t 1 -g 10 "
       "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libopus",
       "out.mkv"},
      {"Av1", "in.mp4", av1.empty() ? "" : video + av1, "out.mp4"},
      {"Mp3", "in.mp3", audio + "libmp3lame", "out.mp4"},
      {"Pcm", "in.wav", audio + "pcm_s16le", "out.mkv"},
  };
  for (const auto& [name, input, codec, output] : kCases) {
    SCOPED_TRACE(name);
    if (codec.empty()) continue;
    Ffmpeg(codec + " " + Arg(input));
    fs::remove_all(m_dir.Path("rec"));
    Import(input);
    Export(output, "--overwrite");
    ExpectSameMedia(input, output, 1000);
  }
  if (av1.empty()) GTEST_SKIP() << "AV1 not tested: this ffmpeg has no AV1 encoder";
}

// Import paces a clip at its timestamps: an import of a 3-second clip is still running when
// Ctrl-C comes half a second into the recording.
TEST_F(QuorMfMediaTest, CtrlCEndsAnImportWhereItIsAndKeepsWhatCame) {
  MakeClip("in.mp4", "-c:v libx264 -g 25 -an");
  const pid_t import =
      Spawn(std::string("exec '") + QUORMF_PATH + "' import " + Arg("in.mp4") + " " +
            Arg("rec/cam.qmf") + " --max-size 64 --max-files 9 --realtime --json >" +
            Arg("stdout.txt") + " 2>" + Arg("stderr.txt"));
  ASSERT_GT(import, 0);
  // The scratch directory appears once the recording runs (and Ctrl-C is taken).
  const auto recording = [&] {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(m_dir.Path("rec"), ignored)) {
      if (entry.path().filename().string().starts_with(".quormf-work")) return true;
    }
    return false;
  };
  for (int i = 0; i < 200 && !recording(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(import, SIGINT);
  ASSERT_EQ(Wait(import), 0) << Slurp(m_dir.Path("stderr.txt"));
  const Json summary = Json::parse(Slurp(m_dir.Path("stdout.txt")));
  EXPECT_TRUE(summary["interrupted"].get<bool>());
  EXPECT_GT(summary["samples"].get<int>(), 0);
  EXPECT_LT(summary["samples"].get<int>(), 75);
  EXPECT_FALSE(recording());
  Expect("verify " + Arg("rec/cam.qmf"), 0);
}

// A TCP port on the loopback address that nothing listens on now.
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  const bool bound = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  close(s);
  return bound ? ntohs(address.sin_port) : 0;
}

// Whether something listens on the loopback port: a line of the kernel's table of TCP sockets
// with that local address, any remote one and the state 0A.
bool Listening(int port) {
  char local[16];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  return std::regex_search(Slurp("/proc/net/tcp"), std::regex(std::string(local) + " \\S+ 0A "));
}

TEST_F(QuorMfMediaTest, ALiveUrlIsImportedAndKeptAsTheSourceOfItsTracks) {
  MakeClip("in.mp4", "-c:v libx264 -g 25 -c:a aac -b:a 48k");
  const int port = FreePort();
  ASSERT_NE(port, 0);
  const std::string url = "tcp://127.0.0.1:" + std::to_string(port);
  // An ffmpeg child serves the clip as MPEG-TS to the first client, then ends.
  const std::string serve = "ffmpeg -nostdin -loglevel error -i " + Arg("in.mp4") +
                            " -c copy -f mpegts '" + url + "?listen=1&listen_timeout=20000'";
  const pid_t server = Spawn(serve);
  ASSERT_GT(server, 0);
  for (int i = 0; i < 200 && !Listening(port); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const Json summary = Json::parse(Import(url, "--json").out);
  EXPECT_EQ(Wait(server), 0);
  EXPECT_EQ(summary["tracks"].size(), 2u);
  EXPECT_EQ(summary["tracks"][0]["samples"].get<int>(), 75);
  const Json info = RunJson("info --json " + Arg("rec/cam.qmf"));
  for (const Json& track : info["tracks"]) EXPECT_EQ(track["source_url"], url);
}

TEST_F(QuorMfMediaTest, ExportKeepsARangeFromAKeyFrameAndLeavesADamagedFileOutOnlyWhenAllowed) {
  MakeClip("in.mp4", "-c:v libx264 -g 25 -c:a aac -b:a 48k");
  Import("in.mp4");
  Export("clip.mkv", "--from 1500000 --to 2000000 --track 1");
  const Media clip = ReadMedia(m_dir.Path("clip.mkv"));
  ASSERT_EQ(clip.packets.size(), 1u);
  // The key frame at 1 s, then every frame whose decode time is at most 2 s.
  ASSERT_GE(clip.packets[0].size(), 25u);
  EXPECT_TRUE(clip.packets[0][0].key);
  EXPECT_LE(clip.packets[0].size(), 28u);
  EXPECT_TRUE(clip.decodes);

  // A damaged fileset is exported only when allowed, and without its damaged file.
  m_dir.FlipByte("rec/cam1.qmf", m_dir.FileSize("rec/cam1.qmf") / 2);
  const std::set<std::string> before = Files();
  Export("out.mp4", "", 1, "not authentic");
  EXPECT_EQ(Files(), before) << "the remux made while authenticating is removed";

  Export("out.mp4", "--allow-damaged");
  const Json sidecar = Json::parse(Slurp(m_dir.Path("out.mp4.json")));
  ASSERT_EQ(sidecar["left_out"].size(), 1u);
  EXPECT_NE(sidecar["left_out"][0].get<std::string>().find("cam1.qmf"), std::string::npos);
  const Media exported = ReadMedia(m_dir.Path("out.mp4"));
  ASSERT_EQ(exported.packets.size(), 2u);
  EXPECT_LT(exported.packets[0].size(), ReadMedia(m_dir.Path("in.mp4")).packets[0].size());
  EXPECT_TRUE(exported.decodes);
}

TEST_F(QuorMfMediaTest, BadInputEndsWithOneLineAndNothingHalfWritten) {
  MakeClip("in.mp4", "-c:v libx264 -g 25 -c:a aac -b:a 48k");
  Ffmpeg("-i " + Arg("in.mp4") + " -c copy -f mpegts " + Arg("in.ts"));
  Ffmpeg("-i " + Arg("in.mp4") + " -c copy -movflags +faststart " + Arg("fast.mp4"));
  for (const char* name : {"in.mp4", "fast.mp4"}) {
    const Bytes clip = m_dir.ReadBytes(name);
    m_dir.WriteBytes(std::string("half-") + name,
                     Bytes(clip.begin(), clip.begin() + clip.size() / 2));
  }
  m_dir.WriteBytes("text.mp4", Bytes(4000, 'x'));
  const Bytes ts = m_dir.ReadBytes("in.ts");
  Bytes twice = ts;
  twice.insert(twice.end(), ts.begin(), ts.end());  // not from itself: its iterators would move
  m_dir.WriteBytes("twice.ts", twice);
  Ffmpeg("-f lavfi -i sine=sample_rate=48000 -t 1 -c:a ac3 " + Arg("ac3.mkv"));
  const std::string closedPort = "tcp://127.0.0.1:" + std::to_string(FreePort());
  m_dir.WriteBytes("taken.qmf", {1});
  m_dir.WriteBytes("taken.mp4", {1});

  struct Case {
    const char* name;
    std::string args;
    const char* says;
  };
  const std::string rec = " " + Arg("rec/cam.qmf") + " --max-size 64 --max-files 9";
  const Case kCases[] = {
      {"NotMedia", "import " + Arg("text.mp4") + rec, "not media"},
      {"TruncatedMp4", "import " + Arg("half-in.mp4") + rec, "half-in.mp4"},
      {"TruncatedMp4IndexFirst", "import " + Arg("half-fast.mp4") + rec, "half-fast.mp4"},
      {"UnsupportedCodec", "import " + Arg("ac3.mkv") + rec, "ac3"},
      {"TimestampsGoBack", "import " + Arg("twice.ts") + rec, "do not rise"},
      {"UrlNothingServes", "import '" + closedPort + "'" + rec, closedPort.c_str()},
      {"ImportOverExisting",
       "import " + Arg("in.mp4") + " " + Arg("taken.qmf") + " --max-size 64 --max-files 9",
       "--overwrite"},
      {"UnknownContainer", "export " + Arg("taken.qmf") + " " + Arg("o.avi"), ".mp4, .mkv or .ts"},
  };
  const std::set<std::string> before = Files();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const RunResult r = Expect(c.args, 2, c.says);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(Files(), before);
  }

  Import("in.mp4");
  const std::set<std::string> imported = Files();
  const Case kExportCases[] = {
      {"EmptyRange", "out.mp4' --from '99000000", "no samples"},
      {"UnknownTrack", "out.mp4' --track '7", "no track 7"},
      {"ExistingOutput", "taken.mp4", "--overwrite"},
  };
  for (const Case& c : kExportCases) {
    SCOPED_TRACE(c.name);
    Export(c.args, "", 2, c.says);
    EXPECT_EQ(Files(), imported);
  }
}

TEST_F(QuorMfMediaTest, LeadingDeltaFramesAreDroppedAndCountedAndOtherCodecsCanBeSkipped) {
  // An MPEG-TS cut after its first key frame starts with delta frames.
  MakeClip("in.mp4", "-c:v libx264 -g 50 -bf 0 -c:a ac3");
  Ffmpeg("-i " + Arg("in.mp4") + " -c copy -f mpegts " + Arg("in.ts"));
  const Bytes ts = m_dir.ReadBytes("in.ts");
  const std::size_t cut = (ts.size() / 4) / 188 * 188;
  m_dir.WriteBytes("cut.ts", Bytes(ts.begin() + static_cast<std::ptrdiff_t>(cut), ts.end()));
  const Json summary = Json::parse(Import("cut.ts", "--skip-unsupported --json").out);
  ASSERT_EQ(summary["tracks"].size(), 1u);
  EXPECT_GT(summary["tracks"][0]["dropped_before_key_frame"].get<int>(), 0);
  ASSERT_EQ(summary["skipped_streams"].size(), 1u);
  EXPECT_NE(summary["skipped_streams"][0].get<std::string>().find("ac3"), std::string::npos);
}

TEST(QuorMediaBitstreamTest, PresentationOffsetSurvivesAnySignAndEscaping) {
  // An access unit delimiter, an SPS and a slice; offsets whose bytes need emulation prevention.
  const Bytes unit = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x65, 0x88, 0x84};
  for (const std::int64_t offset :
       {std::int64_t{1}, std::int64_t{80000}, std::int64_t{-40000}, std::int64_t{0x0300000000}}) {
    SCOPED_TRACE(offset);
    const Bytes with = QuorWithPresentationOffset(unit, false, offset);
    const std::vector<QuorNalUnit> units = QuorAnnexBUnits(with);
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(with[units[0].begin], 0x09) << "the delimiter stays first";
    EXPECT_EQ(QuorH264NalType(with[units[1].begin]), 6);
    for (std::size_t i = units[1].begin + 2; i + 2 < units[1].end; ++i) {
      EXPECT_FALSE(with[i] == 0 && with[i + 1] == 0 && with[i + 2] < 3) << "at " << i;
    }
    std::int64_t read = 0;
    EXPECT_EQ(QuorTakePresentationOffset(with, false, &read), unit);
    EXPECT_EQ(read, offset);
  }
}

TEST(QuorMediaBitstreamTest, AdtsAndAudioSpecificConfigDescribeTheSameStream) {
  const std::tuple<Bytes, int, int> kCases[] = {
      {{0x11, 0x90}, 48000, 2},              // AAC LC
      {{0x12, 0x08}, 44100, 1},              // AAC LC mono
      {{0x2B, 0x92, 0x08, 0x00}, 22050, 2},  // SBR signalled explicitly: the LC core
  };
  for (const auto& [asc, rate, channels] : kCases) {
    const std::optional<QuorAacConfig> config = QuorParseAudioSpecificConfig(asc);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->SampleRate(), rate);
    EXPECT_EQ(config->Channels(), channels);
    Bytes frame(300, 0x5A);
    const auto header = QuorAdtsHeader(*config, frame.size());
    frame.insert(frame.begin(), header.begin(), header.end());
    const auto parsed = QuorParseAdts(frame);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->second, kQuorAdtsHeaderSize);
    EXPECT_EQ(QuorAudioSpecificConfig(parsed->first), QuorAudioSpecificConfig(*config));
    EXPECT_EQ(((frame[3] & 3) << 11) | (frame[4] << 3) | (frame[5] >> 5), 307) << "length";
  }
  EXPECT_FALSE(QuorParseAudioSpecificConfig(Bytes{0x17, 0x80, 0, 0, 0}));  // explicit rate
  EXPECT_FALSE(QuorParseAudioSpecificConfig(Bytes{0x11, 0x80}));           // PCE channels
}

TEST(QuorMediaBitstreamTest, WaveSampleCarriesItsFormat) {
  const Bytes pcm = PatternBytes(1024);
  const Bytes sample = QuorWaveSample({1, 2, 44100, 16}, pcm);
  ASSERT_EQ(sample.size(), kQuorWaveHeaderSize + pcm.size());
  const auto parsed = QuorParseWave(sample);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(std::tie(parsed->first.channels, parsed->first.sampleRate, parsed->first.bitsPerSample),
            std::make_tuple(2, 44100u, 16));
  EXPECT_EQ(Bytes(sample.begin() + static_cast<std::ptrdiff_t>(parsed->second), sample.end()), pcm);
  EXPECT_FALSE(QuorParseWave(Bytes(sample.begin(), sample.begin() + 40)));
}

}  // namespace
