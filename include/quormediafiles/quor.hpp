// quor: the library's C++20 programming interface. It records and plays back filesets through
// the library's objects and gives back standard types: strings in UTF-8, std::span payloads,
// std::optional for absent values, and exceptions (quor::Error) for failures.
//
//   auto writer = quor::Writer::create("/rec/cam.qmf", {.maxFileSizeKiB = 1024, .maxFiles = 4},
//                                      {{.id = 1, .name = "front door", .video = true,
//                                        .videoFormat = "H.264"}});
//   writer.write(1, 1000, quor::SampleFlags::KeyFrame | quor::SampleFlags::Video, bytes);
//   writer.stop();  // drains what is queued, then closes the last file
//   auto reader = quor::Reader::open("/rec/cam.qmf");
//   for (const quor::Sample& s : reader.samples(1)) use(s.timestamp(), s.payload());
//
// Where the objects come from: quor asks the platform runtime for them by class identifier. A
// program that links the engine (QuorMediaFiles' static libraries) gets them in process; any
// other program gets them from the shared module registered in the class registry.
//
// This header includes only standard headers and declares nothing outside namespace quor, so it
// can be included beside any other library's types (X11's BOOL, a program's own DWORD).
//
// Units: timestamps are unsigned 64-bit values that the recording application chose; the library
// orders and compares them and gives them no unit. The creation time of a fileset is in seconds
// since 1970-01-01 00:00 UTC. Sizes are in bytes unless a name says KiB.
//
// Threads: a Reader or a Writer may be used from any thread, but from one at a time, except
// where a method says otherwise. Objects of different Readers or Writers are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quor {

namespace detail {
struct ReaderCore;    // the reader object and the read position of each track
struct SampleHandle;  // one sample object
}  // namespace detail

// Flags of one sample, as stored with it. A valid set has at least one of Video and Audio and at
// least one of KeyFrame, NotKeyFrame and FrameMark.
enum class SampleFlags : std::uint32_t {
  None = 0,
  KeyFrame = 0x01,
  Video = 0x02,
  Audio = 0x04,
  NotKeyFrame = 0x08,
  FrameMark = 0x10,  // a further frame mark, kept in the file
};

// Status bits of one member file, as the reader reports them.
enum class FileStatus : std::uint32_t {
  None = 0,
  LastFile = 0x01,             // the last file of its fileset
  Finalized = 0x02,            // closed by its finalization block
  Authentic = 0x04,            // passed authentication
  Tested = 0x08,               // authentication has run over it
  Recovered = 0x10,            // cut off; its index was rebuilt by walking its blocks
  TrackInfoUnreadable = 0x20,  // a track info block could not be read
};

template <class E>
concept FlagEnum = std::is_same_v<E, SampleFlags> || std::is_same_v<E, FileStatus>;

template <FlagEnum E>
constexpr E operator|(E a, E b) noexcept {
  return E(std::uint32_t(a) | std::uint32_t(b));
}
template <FlagEnum E>
constexpr E operator&(E a, E b) noexcept {
  return E(std::uint32_t(a) & std::uint32_t(b));
}
template <FlagEnum E>
constexpr E operator^(E a, E b) noexcept {
  return E(std::uint32_t(a) ^ std::uint32_t(b));
}
template <FlagEnum E>
constexpr E operator~(E a) noexcept {
  return E(~std::uint32_t(a));
}
template <FlagEnum E>
constexpr E& operator|=(E& a, E b) noexcept {
  return a = a | b;
}
template <FlagEnum E>
constexpr E& operator&=(E& a, E b) noexcept {
  return a = a & b;
}
// Whether every bit of bits is set in flags.
template <FlagEnum E>
constexpr bool has(E flags, E bits) noexcept {
  return (flags & bits) == bits && bits != E::None;
}

// The set bits in words, in bit order: "key", "video", "audio", "not-key", "mark"; unknown bits
// as "0x40".
std::vector<std::string> words(SampleFlags flags);
// "last", "finalized", "authentic", "tested", "recovered", "track-info-unreadable"; unknown bits
// as "0x40".
std::vector<std::string> words(FileStatus status);

// The writer's state, as the recording status reports it.
enum class WriterState : std::int32_t {
  Created = 0,
  Initialized = 1,
  ReadyToStart = 2,
  Started = 3,
  Finished = 4,
};
// "created", "initialized", "ready", "started", "finished".
std::string_view name(WriterState state) noexcept;

// A failed operation. code() is the library's result code (an HRESULT, negative), codeName()
// its symbolic name ("MFS_E_BAD_PASSWORD", "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"; the hex
// form "0x8004F0FF" for a code without a name), description() the text the failing object left
// (or "" when it left none), operation() the object method or quor step that failed. what() is
// "<name> (<hex>): <description or '<operation> failed'>".
class Error : public std::runtime_error {
 public:
  Error(std::int32_t code, std::string operation, std::string description);

  std::int32_t code() const noexcept { return m_code; }
  const std::string& codeName() const noexcept { return m_codeName; }
  const std::string& description() const noexcept { return m_description; }
  const std::string& operation() const noexcept { return m_operation; }

 private:
  std::int32_t m_code;
  std::string m_codeName;
  std::string m_operation;
  std::string m_description;
};

// The symbolic name of a result code, "" when it has none.
std::string codeName(std::int32_t code);
// Every named failure code of the library and the platform, in a fixed order (for bindings that
// make one exception class per code).
struct NamedCode {
  std::int32_t code;
  const char* name;
};
std::span<const NamedCode> namedCodes() noexcept;

// Result codes that callers of quor test for.
namespace codes {
inline constexpr std::int32_t NotSet = std::int32_t(0x8004F001u);         // MFS_E_NOT_SET
inline constexpr std::int32_t WrongState = std::int32_t(0x8004F002u);     // MFS_E_WRONG_STATE
inline constexpr std::int32_t NoValue = std::int32_t(0x8004F007u);        // MFS_E_NO_VALUE
inline constexpr std::int32_t BadPassword = std::int32_t(0x8004F008u);    // MFS_E_BAD_PASSWORD
inline constexpr std::int32_t BadFormat = std::int32_t(0x8004F009u);      // MFS_E_BAD_FORMAT
inline constexpr std::int32_t FileFull = std::int32_t(0x8004F00Au);       // MFS_E_FILE_FULL
inline constexpr std::int32_t AuthCancelled = std::int32_t(0x8004F00Du);  // MFS_E_AUTH_CANCELLED
inline constexpr std::int32_t InvalidArg = std::int32_t(0x80070057u);     // E_INVALIDARG
inline constexpr std::int32_t FileNotFound = std::int32_t(0x80070002u);   // ERROR_FILE_NOT_FOUND
}  // namespace codes

// The display name of a format identifier ("H.264" for "{B0C8D623-...}"), "" for an identifier
// outside the format table.
std::string formatName(std::string_view identifier);
// The braced identifier of a format name ("H.264", "AAC", "Opus", ...), or identifier itself
// when it is already braced. Throws Error (E_INVALIDARG) for an unknown name.
std::string formatIdentifier(std::string_view nameOrIdentifier);

// ---------------------------------------------------------------------------------------------
// Reading

// One member file of an open fileset.
struct MemberFile {
  std::string name;                           // the path as the reader found it
  std::optional<std::uint32_t> filesetIndex;  // absent when its file info block has none
  FileStatus status = FileStatus::None;
};

struct FileSetInfo {
  std::string guid;  // braced 38-character form; the null GUID for a fileset of one file
  std::optional<std::uint64_t> creationTime;  // seconds since 1970-01-01 00:00 UTC
  std::string description;                    // "" when none was recorded
  bool passwordProtected = false;
  bool complete = false;          // every member file from 0 to the last one is there and finalized
  std::vector<MemberFile> files;  // in the order the reader numbers them (the named file first)
};

// How many samples one track holds, counted the way forEachSample() walks the whole track: every
// sample from the first to the end of the track in the order the files store them, including
// samples whose timestamp goes back (frames stored by presentation time) and samples whose block
// cannot be read.
struct SampleCounts {
  std::uint64_t samples = 0;       // every sample, the unreadable ones included
  std::uint64_t keyFrames = 0;     // readable samples with SampleFlags::KeyFrame
  std::uint64_t payloadBytes = 0;  // of the readable samples
  std::uint64_t unreadable = 0;    // samples whose block the reader could not read
};

// What track() and tracks() read: the metadata alone (cheap), or also the sample counts, which
// read every sample block of the track once.
enum class TrackDetail { Metadata, Counts };

struct TrackInfo {
  std::uint32_t id = 0;
  std::string name;  // "" when none was recorded
  std::optional<std::uint32_t> sourceId;
  std::optional<std::uint32_t> pairId;
  std::string sourceUrl;
  std::string mediaSessionPlugin;
  bool video = false;
  bool audio = false;
  bool authentic = false;   // its track info block passed its hash check at open
  std::string videoFormat;  // braced identifier, "" when none
  std::string audioFormat;
  std::string videoFormatName;  // formatName(videoFormat)
  std::string audioFormatName;
  std::vector<std::string> filters;             // further class identifiers, in the order recorded
  std::optional<std::uint64_t> firstTimestamp;  // absent for a track without samples
  std::optional<std::uint64_t> lastTimestamp;
  // The result code when the reader cannot describe the track (a format identifier outside its
  // table): the metadata fields above are then empty; id, timestamps and counts are still set.
  std::optional<std::int32_t> metadataError;
  std::optional<SampleCounts> counts;  // set only with TrackDetail::Counts
};

class Reader;

// One sample read from a fileset. Holds the library's sample object; its payload is that
// object's own bytes (no copy), valid for as long as this Sample lives. Inside a range loop the
// element is the iterator's sample: it lives until the iterator moves. Copying a Sample shares
// the object (and its bytes).
class Sample {
 public:
  Sample() noexcept = default;

  std::uint64_t timestamp() const noexcept { return m_timestamp; }
  SampleFlags flags() const noexcept { return m_flags; }
  bool keyFrame() const noexcept { return has(m_flags, SampleFlags::KeyFrame); }
  // The payload bytes; empty for an empty payload.
  std::span<const std::byte> payload() const noexcept { return m_payload; }

  // The sample object behind it (an implementation detail).
  const std::shared_ptr<detail::SampleHandle>& handle() const noexcept { return m_handle; }

 private:
  friend struct detail::ReaderCore;
  std::shared_ptr<detail::SampleHandle> m_handle;
  std::uint64_t m_timestamp = 0;
  SampleFlags m_flags = SampleFlags::None;
  std::span<const std::byte> m_payload;
};

// The end of a sample range.
struct SampleSentinel {};

// An input iterator over one track's samples. Each increment reads the next sample (one index
// entry, one sample block). The track has one read position per Reader, which the iterator and
// Reader::moveTo share: an iterator whose track has been moved by anything else since its last
// step is stale, and its next increment throws Error (MFS_E_WRONG_STATE); so does an increment
// after the Reader was closed. A failed read throws Error.
class SampleIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using iterator_concept = std::input_iterator_tag;
  using value_type = Sample;
  using difference_type = std::ptrdiff_t;
  using pointer = const Sample*;
  using reference = const Sample&;

  SampleIterator() noexcept = default;
  const Sample& operator*() const noexcept { return m_sample; }
  const Sample* operator->() const noexcept { return &m_sample; }
  SampleIterator& operator++();
  void operator++(int) { ++*this; }
  friend bool operator==(const SampleIterator& it, SampleSentinel) noexcept { return it.m_done; }

 private:
  friend class SampleRange;
  std::shared_ptr<detail::ReaderCore> m_core;
  Sample m_sample;
  std::uint32_t m_track = 0;
  std::uint64_t m_from = 0;
  std::uint64_t m_to = 0;
  std::uint64_t m_generation = 0;  // the track's move count after this iterator's last step
  bool m_done = true;
};

// The samples of one track with from <= timestamp <= to, in the order the files store them.
// begin() positions the track where Reader::moveTo(from) lands (so call it once per range); the
// walk skips every sample below from and ends at the end of the track or at the first sample
// above to. A track whose timestamps go back (frames stored by presentation time) is therefore
// listed whole by the default range, while a range with an upper end stops at the first sample
// past it. An empty range when no sample falls inside.
class SampleRange {
 public:
  SampleIterator begin();
  SampleSentinel end() const noexcept { return {}; }

 private:
  friend class Reader;
  std::shared_ptr<detail::ReaderCore> m_core;
  std::uint32_t m_track = 0;
  std::uint64_t m_from = 0;
  std::uint64_t m_to = 0;
};

// The outcome of authentication. authentic is true only when every file passed and the fileset
// is complete; a damaged or missing file is an answer here, not an error.
// Where a walk of a member file's blocks from its start meets the first damage.
struct Damage {
  std::uint64_t offset = 0;                 // in the file, of the block or the unreadable bytes
  std::optional<std::uint32_t> blockIndex;  // of a block that reads but fails a check
  // "fails its block hash check", "breaks the block index sequence", "holds a file hash that
  // does not match", or what the bytes at offset are ("unknown block type 0x600", "end of file
  // without a finalization block", ...).
  std::string problem;
};
struct FileVerdict {
  std::string name;
  bool authentic = false;
  FileStatus status = FileStatus::None;  // after the walk (Tested, Authentic)
  // For a file that was tested and is not authentic: its first damage. std::nullopt when its own
  // blocks are intact (the block index chain broke in an earlier file) and for the other files.
  std::optional<Damage> damage;
};
struct Authentication {
  bool authentic = false;
  bool complete = false;
  bool cancelled = false;  // the stop token asked to stop; files not reached keep their bits
  std::vector<FileVerdict> files;
};

// What the seals beside one member file say, checked with a public key (Reader::verifySeals).
enum class SealState : std::uint32_t {
  SealedToEnd = 0,   // finalized and sealed up to its last byte, every seal holds
  SealedPartly = 1,  // every seal holds, but bytes follow the last one or it is not finalized
  NoSeal = 2,        // no seal file, or one without a record
  OtherKey = 3,      // a seal was made with another key
  BrokenRecord = 4,  // a seal record is cut, damaged or its signature fails
  OtherFile = 5,     // a seal names another member file or fileset (a swapped seal file)
  BytesDiffer = 6,   // bytes of a sealed range differ from what was sealed, or are missing
};

struct SealCheck {
  std::string file;  // the member file
  SealState state = SealState::NoSeal;
  std::uint32_t lastBlock = 0;    // the block the last good seal reaches
  std::uint64_t sealedBytes = 0;  // the bytes from the start of the file it covers
  std::uint64_t fileBytes = 0;    // the file's size
  std::string description;        // one line, naming the first differing range if any
  bool sealedToEnd() const noexcept { return state == SealState::SealedToEnd; }
};

// Called with the percentage (0..100) of the blocks walked so far, on a thread of quor's own,
// about every 50 ms while the walk runs; it must not call the Reader.
using ProgressFn = std::function<void(unsigned percent)>;

class Reader {
 public:
  // Opens the fileset that path (any of its member files) belongs to. password: "" for none; a
  // protected fileset needs its password. Throws Error: a missing file
  // (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), a wrong password (MFS_E_BAD_PASSWORD), a file of
  // another format (MFS_E_BAD_FORMAT), a path that is not UTF-8 (E_INVALIDARG).
  static Reader open(const std::string& path, const std::string& password = {});

  Reader(Reader&&) noexcept;
  Reader& operator=(Reader&&) noexcept;
  // The reader object stays open while a range or iterator of it lives (a range over a
  // temporary Reader works); the last of them releases it.
  ~Reader();

  // Releases the reader object and its open files. Every later call, and every iterator of the
  // reader, throws Error (MFS_E_WRONG_STATE). Closing twice is harmless.
  void close() noexcept;
  bool isOpen() const noexcept;

  // The fileset's metadata and its member files with their status now (after authenticate()
  // the files carry the Tested and Authentic bits).
  FileSetInfo info() const;
  // Every track, ordered by id.
  std::vector<TrackInfo> tracks() const;
  std::vector<std::uint32_t> trackIds() const;
  TrackInfo track(std::uint32_t id) const;  // Error (E_INVALIDARG) for an unknown id
  // The same, with TrackDetail::Counts also counting each track's samples (forEachSample over
  // the whole track: every sample block is read once; moves the tracks' read positions, so
  // their iterators go stale). A track the reader cannot describe comes with metadataError set
  // instead of throwing.
  std::vector<TrackInfo> tracks(TrackDetail detail) const;
  TrackInfo track(std::uint32_t id, TrackDetail detail) const;

  // The samples of track with from <= timestamp <= to. Throws Error (E_INVALIDARG) for an
  // unknown track when the range begins.
  SampleRange samples(std::uint32_t track, std::uint64_t from = 0,
                      std::uint64_t to = UINT64_MAX) const;
  // Positions track at the sample at or just before t (the first sample when t lies before
  // it) and returns it; std::nullopt for a track without samples. Makes the track's
  // iterators stale.
  std::optional<Sample> moveTo(std::uint32_t track, std::uint64_t t) const;
  // Steps track forward or back from its position; std::nullopt at the end of the track. A
  // sample whose block cannot be read throws Error, and the track stays on it, so the next step
  // goes on past it.
  std::optional<Sample> next(std::uint32_t track) const;
  std::optional<Sample> previous(std::uint32_t track) const;

  // Calls visit for every sample of track that samples(track, from, to) lists, in the same
  // order, but goes on past a sample whose block cannot be read: visit then gets nullptr (its
  // timestamp is unknown; such a sample is passed on wherever the walk meets it). A sample and
  // its payload are valid during the call only. Throws Error for an unknown track and for what
  // visit throws; moves the track's read position (its iterators go stale). Calling thread.
  void forEachSample(std::uint32_t track, std::uint64_t from, std::uint64_t to,
                     const std::function<void(const Sample* sample)>& visit) const;

  // Re-reads every block of every file and checks block indexes, block hashes and file hashes.
  // progress (optional) gets percentages from another thread; a stop request on stop ends the
  // walk at the next block with cancelled true. Blocks the calling thread for the whole walk,
  // then walks each file that is not authentic once more up to its first damage
  // (FileVerdict::damage).
  Authentication authenticate(const ProgressFn& progress = {},
                              const std::stop_token& stop = {}) const;
  // Checks every member file against its seal file ("<member>.seal") with the Ed25519 public key
  // in publicKeyFile (PEM, as `quormf keygen` writes it), in the order of info().files. Reads each
  // file once, two files at a time on two threads of its own. With authentication, the same read
  // also authenticates the fileset: *authentication gets what authenticate() gives (the same
  // verdicts, Tested and Authentic in each file's status, damage), while the reader's own file
  // status is left as it was; progress and stop then work as for authenticate() (percentages of
  // the bytes read), and a stop leaves the seal checks empty. Throws Error: a key file that
  // cannot be read or holds no Ed25519 public key (MFS_E_BAD_FORMAT), a member file that cannot
  // be read.
  std::vector<SealCheck> verifySeals(const std::string& publicKeyFile,
                                     Authentication* authentication = nullptr,
                                     const ProgressFn& progress = {},
                                     const std::stop_token& stop = {}) const;

 private:
  explicit Reader(std::shared_ptr<detail::ReaderCore> core) noexcept;
  std::shared_ptr<detail::ReaderCore> m_core;
};

// ---------------------------------------------------------------------------------------------
// Writing

struct Limits {
  std::uint32_t maxFileSizeKiB = 1024 * 1024;  // per member file, in KiB (1 GiB)
  std::uint32_t maxFiles = 1;                  // the recording ends when the last one is full
};

struct TrackSpec {
  std::uint32_t id = 0;
  std::string name;
  std::optional<std::uint32_t> sourceId;
  std::optional<std::uint32_t> pairId;
  std::string sourceUrl;
  std::string mediaSessionPlugin;
  bool video = false;
  bool audio = false;
  std::string videoFormat;  // a name ("H.264") or a braced identifier; "" for none
  std::string audioFormat;
  std::vector<std::string> filters;
};

// Settings of a recording beyond the limits and tracks. Later features add fields here, each
// with a default that keeps today's behaviour.
struct WriterOptions {
  bool overwrite = false;    // replace member files that already exist
  std::string description;   // "" for none
  std::string password;      // "" for none; stored only as a hash
  bool payloadOnly = false;  // member files of payload fields only
  // An Ed25519 private key file (PEM, mode 0600, as `quormf keygen` writes it): every member
  // file gets a seal file of signed records; "" for none. Checked before the first file is
  // created (Error: E_ACCESSDENIED when others may read it, E_INVALIDARG for a public key,
  // MFS_E_BAD_FORMAT for no Ed25519 private key).
  std::string signingKey;
  bool durable = false;  // sync each head, index and finalization block to the device
  std::uint32_t indexPeriodSeconds = 60;  // between index blocks, 1 to 86400
};

struct WriterStatus {
  WriterState state = WriterState::Created;
  std::uint32_t currentFileIndex = 0;
  std::string currentFileName;
  std::uint64_t bytesWrittenTotal = 0;        // all member files, as on disk now
  std::uint64_t bytesWrittenCurrentFile = 0;  // 0 once finished
  // Samples write() accepted that no file holds: too large for an empty member file, handed in
  // after the fileset or the disk became full, or whose write failed.
  std::uint64_t droppedSamples = 0;
};

enum class WriteResult {
  Queued,      // the sample is queued for the worker
  RolledOver,  // queued, and the recording has moved to its next member file since the last
               // write (reported once)
};

class Writer {
 public:
  // Creates the first member file of the fileset named by path (its base name and extension
  // name the members), adds the tracks and starts recording. Throws Error: an existing file
  // without options.overwrite, a path that is not UTF-8 (E_INVALIDARG), no tracks or a
  // duplicate track id, an unknown format name. Nothing is left recording on failure.
  static Writer create(const std::string& path, const Limits& limits,
                       const std::vector<TrackSpec>& tracks, const WriterOptions& options = {});

  Writer(Writer&&) noexcept;
  Writer& operator=(Writer&&) noexcept;
  // Stops (draining first) and finalizes; errors are swallowed here (call stop() to see them).
  ~Writer();

  // Queues one sample; the payload is copied before the call returns, so the caller may reuse
  // its buffer. Never waits for the disk. Throws Error: after stop() (MFS_E_WRONG_STATE), an
  // unknown track (E_INVALIDARG), flags without a media or frame bit (E_INVALIDARG), a payload
  // that cannot fit into a member file (MFS_E_FILE_FULL). Samples arriving after the last file
  // filled up are dropped by the writer (status() then says Finished). Any thread; concurrent
  // calls are serialized.
  WriteResult write(std::uint32_t track, std::uint64_t timestamp, SampleFlags flags,
                    std::span<const std::byte> payload);
  WriteResult write(std::uint32_t track, std::uint64_t timestamp, SampleFlags flags,
                    std::span<const std::uint8_t> payload) {
    return write(track, timestamp, flags, std::as_bytes(payload));
  }

  // A snapshot of the recording; any thread, also while another thread writes.
  WriterStatus status() const;
  // Waits until every sample queued before the call is written and handed to the operating
  // system (or dropped because the recording ended). Any thread.
  void drain();
  // Drains, then writes the last index and finalization blocks and ends the recording. Later
  // writes throw Error (MFS_E_WRONG_STATE); stopping twice is harmless. (The objects' own
  // StopRecording drops what is still queued; this one does not.)
  void stop();

  struct Impl;

 private:
  explicit Writer(std::unique_ptr<Impl> impl) noexcept;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace quor
