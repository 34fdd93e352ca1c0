// quor::Reader, its sample ranges and authentication, over IQuorMediaFileReader.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "quor/QuorApiSupport.h"
#include "seal/QuorSealKey.h"
#include "seal/QuorSealVerifier.h"
#include "storage/QuorFileStorage.h"

namespace quor {

namespace detail {

// One sample object; copy holds the payload only for a sample object without the library's
// payload view (one made by another implementation).
struct SampleHandle {
  CQuorComPtr<IQuorMediaFileSample> object;
  CQuorSafeArray copy;
};

struct ReaderCore {
  enum class Move { To, Next, Previous };

  CQuorComPtr<IQuorMediaFileReader> reader;      // null once closed
  std::map<std::uint32_t, std::uint64_t> moves;  // per track: how often it was moved

  IQuorMediaFileReader* Get(const char* operation) const {
    if (!reader) throw Error(MFS_E_WRONG_STATE, operation, "the reader is closed");
    return reader.Get();
  }

  // The first timestamp of track; std::nullopt for a track without samples.
  std::optional<std::uint64_t> FirstTimestamp(std::uint32_t track, const char* operation) {
    return Translate([&] {
      return QuorGetOptional<ULONGLONG>(
          [&](ULONGLONG* p) { return Get(operation)->GetFirstTimeStamp(track, p); },
          "GetFirstTimeStamp");
    });
  }

  // Moves track and fills out with the sample there; the move's result code (out is empty when
  // it failed, and on MFS_E_NO_VALUE at the end of the track). Reuses out's handle when nobody
  // else holds it. The error information of a failure is left for the caller.
  HRESULT TryMove(Sample& out, std::uint32_t track, Move move, std::uint64_t t,
                  const char* operation) {
    IQuorMediaFileReader* r = Get(operation);
    ++moves[track];
    // The sample this replaces goes first when nobody else holds it, so that the new one can
    // take its memory.
    if (out.m_handle && out.m_handle.use_count() == 1) {
      out.m_handle->object = CQuorComPtr<IQuorMediaFileSample>();
      out.m_handle->copy = CQuorSafeArray();
    }
    out.m_payload = {};
    CQuorComPtr<IQuorMediaFileSample> object;
    HRESULT hr = S_OK;
    switch (move) {
      case Move::To:
        hr = r->MoveTo(track, t, object.AddressOf());
        break;
      case Move::Next:
        hr = r->MoveNext(track, object.AddressOf());
        break;
      case Move::Previous:
        hr = r->MovePrevious(track, object.AddressOf());
        break;
    }
    if (FAILED(hr)) {
      out = Sample();
      return hr;
    }
    Fill(out, std::move(object));
    return hr;
  }

  // TryMove, throwing Error for a failure; false at the end of the track.
  bool Step(Sample& out, std::uint32_t track, Move move, std::uint64_t t, const char* operation) {
    const HRESULT hr = TryMove(out, track, move, t, operation);
    if (hr == MFS_E_NO_VALUE && move != Move::To) {
      (void)QuorTakeErrorDescription();  // (void): the end of the track is an answer
      return false;
    }
    Check(hr, operation);
    return true;
  }

  static void Fill(Sample& out, CQuorComPtr<IQuorMediaFileSample> object) {
    if (!out.m_handle || out.m_handle.use_count() != 1) {
      out.m_handle = std::make_shared<SampleHandle>();
    }
    SampleHandle& handle = *out.m_handle;
    handle.copy = CQuorSafeArray();
    handle.object = std::move(object);
    ULONGLONG timestamp = 0;
    ULONG flags = 0;
    Check(handle.object->GetTimestamp(&timestamp), "GetTimestamp");
    Check(handle.object->GetSampleFlags(&flags), "GetSampleFlags");
    const BYTE* data = nullptr;
    ULONG length = 0;
    CQuorComPtr<IQuorMediaFileSampleAccess> access;
    HRESULT hr = handle.object.As(&access);
    if (SUCCEEDED(hr)) {
      hr = access->GetPayloadView(&data, &length);
    } else {
      hr = handle.object->GetPayloadData(handle.copy.AddressOf());
      if (SUCCEEDED(hr) && handle.copy) {
        data = static_cast<const BYTE*>(handle.copy.Get()->pvData);
        length = handle.copy.Count();
      }
    }
    if (FAILED(hr) && hr != MFS_E_NO_VALUE) Check(hr, "GetPayloadView");
    out.m_timestamp = timestamp;
    out.m_flags = static_cast<SampleFlags>(flags);
    out.m_payload = std::span(reinterpret_cast<const std::byte*>(data), length);
  }
};

}  // namespace detail

using detail::ReaderCore;
using detail::Translate;

SampleIterator& SampleIterator::operator++() {
  if (m_done) return *this;
  static constexpr const char* kOperation = "SampleIterator::operator++";
  ReaderCore& core = *m_core;
  (void)core.Get(kOperation);  // (void): only the check that the reader is open
  std::uint64_t& moves = core.moves[m_track];
  if (moves != m_generation) {
    throw Error(MFS_E_WRONG_STATE, kOperation,
                "stale iterator: track " + std::to_string(m_track) +
                    " was moved by moveTo or another range since this iterator's last step");
  }
  // Samples below from are skipped wherever they come: timestamps may go back.
  bool more = true;
  do {
    more = core.Step(m_sample, m_track, ReaderCore::Move::Next, 0, "MoveNext");
  } while (more && m_sample.timestamp() < m_from);
  if (!more || m_sample.timestamp() > m_to) {
    m_sample = Sample();
    m_done = true;
  }
  m_generation = moves;
  return *this;
}

SampleIterator SampleRange::begin() {
  SampleIterator it;
  it.m_core = m_core;
  it.m_track = m_track;
  it.m_from = m_from;
  it.m_to = m_to;
  ReaderCore& core = *m_core;
  const std::optional<std::uint64_t> first = core.FirstTimestamp(m_track, "samples");
  if (!first || m_from > m_to) return it;
  Sample& s = it.m_sample;
  core.Step(s, m_track, ReaderCore::Move::To, std::max(m_from, *first), "MoveTo");
  // MoveTo lands at or just before the timestamp.
  bool more = true;
  while (more && s.timestamp() < m_from) {
    more = core.Step(s, m_track, ReaderCore::Move::Next, 0, "MoveNext");
  }
  it.m_done = !more || s.timestamp() > m_to;
  if (it.m_done) s = Sample();
  it.m_generation = core.moves[m_track];
  return it;
}

Reader::Reader(std::shared_ptr<ReaderCore> core) noexcept : m_core(std::move(core)) {}
Reader::Reader(Reader&&) noexcept = default;
Reader& Reader::operator=(Reader&&) noexcept = default;
Reader::~Reader() = default;

Reader Reader::open(const std::string& path, const std::string& password) {
  return Translate([&] {
    const CQuorBstr name = detail::Utf8Bstr(path, "path");
    const CQuorBstr secret = detail::Utf8Bstr(password, "password");
    auto core = std::make_shared<ReaderCore>();
    core->reader = QuorCreate<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
    detail::Check(core->reader->OpenFileSet(name.Get(), password.empty() ? nullptr : secret.Get()),
                  "OpenFileSet");
    return Reader(std::move(core));
  });
}

void Reader::close() noexcept {
  if (m_core) m_core->reader = CQuorComPtr<IQuorMediaFileReader>();
}

bool Reader::isOpen() const noexcept { return m_core && m_core->reader; }

namespace {

ReaderCore& CoreOf(const std::shared_ptr<ReaderCore>& core, const char* operation) {
  if (!core) throw Error(MFS_E_WRONG_STATE, operation, "the reader was moved from");
  return *core;
}

}  // namespace

FileSetInfo Reader::info() const {
  return Translate([&] {
    IQuorMediaFileReader* r = CoreOf(m_core, "info").Get("info");
    FileSetInfo info;
    CQuorComPtr<IQuorFileSetMetadata> metadata;
    QuorCheck(r->GetFileSetMetadata(metadata.AddressOf()), "GetFileSetMetadata");
    info.guid = QuorGetOptionalString([&](BSTR* p) { return metadata->GetFileSetGuid(p); },
                                      "GetFileSetGuid")
                    .value_or("");
    info.creationTime = QuorGetOptional<ULONGLONG>(
        [&](ULONGLONG* p) { return metadata->GetFileSetCreationTime(p); },
        "GetFileSetCreationTime");
    info.description =
        QuorGetOptionalString([&](BSTR* p) { return metadata->GetFileSetDescription(p); },
                              "GetFileSetDescription")
            .value_or("");
    info.passwordProtected =
        QuorIsTrue(QuorGetOptional<VARIANT_BOOL>(
                       [&](VARIANT_BOOL* p) { return metadata->IsPasswordProtected(p); },
                       "IsPasswordProtected")
                       .value_or(VARIANT_FALSE));
    VARIANT_BOOL complete = VARIANT_FALSE;
    QuorCheck(metadata->IsFileSetComplete(&complete), "IsFileSetComplete");
    info.complete = QuorIsTrue(complete);

    CQuorSafeArray names;
    QuorCheck(r->GetFileNames(names.AddressOf()), "GetFileNames");
    for (std::string& name : QuorStringVector(names.Get())) {
      MemberFile file;
      CQuorComPtr<IQuorMediaFileStatus> status;
      QuorCheck(r->GetFileStatus(QuorBstr(name).Get(), status.AddressOf()), "GetFileStatus");
      ULONG index = 0;
      if (const HRESULT hr = status->GetFileIndex(&index); hr != MFS_E_NOT_SET) {
        QuorCheck(hr, "GetFileIndex");
        file.filesetIndex = index;
      }
      ULONG flags = 0;
      QuorCheck(status->GetStatusFlags(&flags), "GetStatusFlags");
      file.status = static_cast<FileStatus>(flags);
      file.name = std::move(name);
      info.files.push_back(std::move(file));
    }
    return info;
  });
}

std::vector<std::uint32_t> Reader::trackIds() const {
  return Translate([&] {
    IQuorMediaFileReader* r = CoreOf(m_core, "trackIds").Get("trackIds");
    CQuorSafeArray ids;
    QuorCheck(r->GetTrackIds(ids.AddressOf()), "GetTrackIds");
    std::vector<std::uint32_t> sorted = QuorU32Vector(ids.Get());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
  });
}

TrackInfo Reader::track(std::uint32_t id) const {
  return Translate([&] {
    IQuorMediaFileReader* r = CoreOf(m_core, "track").Get("track");
    CQuorComPtr<IQuorTrackMetadata> m;
    QuorCheck(r->GetTrackMetadata(id, m.AddressOf()), "GetTrackMetadata");
    const auto text = [&](HRESULT (IQuorTrackMetadata::*get)(BSTR*), const char* operation) {
      return QuorGetOptionalString([&](BSTR* p) { return (m.Get()->*get)(p); }, operation)
          .value_or("");
    };
    const auto truth = [&](HRESULT (IQuorTrackMetadata::*get)(VARIANT_BOOL*),
                           const char* operation) {
      return QuorIsTrue(QuorGetOptional<VARIANT_BOOL>(
                            [&](VARIANT_BOOL* p) { return (m.Get()->*get)(p); }, operation)
                            .value_or(VARIANT_FALSE));
    };
    TrackInfo t;
    t.id = id;
    t.name = text(&IQuorTrackMetadata::GetTrackName, "GetTrackName");
    t.sourceId = QuorGetOptional<ULONG>([&](ULONG* p) { return m->GetSourceId(p); }, "GetSourceId");
    t.pairId = QuorGetOptional<ULONG>([&](ULONG* p) { return m->GetPairId(p); }, "GetPairId");
    t.sourceUrl = text(&IQuorTrackMetadata::GetSourceUrl, "GetSourceUrl");
    t.mediaSessionPlugin =
        text(&IQuorTrackMetadata::GetMediaSessionPlugin, "GetMediaSessionPlugin");
    t.video = truth(&IQuorTrackMetadata::GetVideoFlag, "GetVideoFlag");
    t.audio = truth(&IQuorTrackMetadata::GetAudioFlag, "GetAudioFlag");
    t.authentic = truth(&IQuorTrackMetadata::IsAuthentic, "IsAuthentic");
    t.videoFormat = text(&IQuorTrackMetadata::GetVideoFormatIdentifier, "GetVideoFormatIdentifier");
    t.audioFormat = text(&IQuorTrackMetadata::GetAudioFormatIdentifier, "GetAudioFormatIdentifier");
    t.videoFormatName = formatName(t.videoFormat);
    t.audioFormatName = formatName(t.audioFormat);
    CQuorSafeArray filters;
    const HRESULT hr = m->GetFilters(filters.AddressOf());
    if (hr != MFS_E_NO_VALUE) {
      QuorCheck(hr, "GetFilters");
      t.filters = QuorStringVector(filters.Get());
    }
    t.firstTimestamp = m_core->FirstTimestamp(id, "track");
    t.lastTimestamp = QuorGetOptional<ULONGLONG>(
        [&](ULONGLONG* p) { return r->GetLastTimeStamp(id, p); }, "GetLastTimeStamp");
    return t;
  });
}

TrackInfo Reader::track(std::uint32_t id, TrackDetail detail) const {
  TrackInfo t;
  try {
    t = track(id);
  } catch (const Error& e) {
    if (e.code() == E_INVALIDARG) throw;  // an unknown track
    // The metadata is unreadable; what the reader knows of the samples is still there.
    t = TrackInfo();
    t.id = id;
    t.metadataError = e.code();
    t.firstTimestamp = m_core->FirstTimestamp(id, "track");
    t.lastTimestamp = Translate([&] {
      return QuorGetOptional<ULONGLONG>(
          [&](ULONGLONG* p) { return m_core->Get("track")->GetLastTimeStamp(id, p); },
          "GetLastTimeStamp");
    });
  }
  if (detail == TrackDetail::Counts) {
    SampleCounts& counts = t.counts.emplace();
    forEachSample(id, 0, UINT64_MAX, [&](const Sample* s) {
      ++counts.samples;
      if (!s) {
        ++counts.unreadable;
        return;
      }
      if (s->keyFrame()) ++counts.keyFrames;
      counts.payloadBytes += s->payload().size();
    });
  }
  return t;
}

std::vector<TrackInfo> Reader::tracks() const { return tracks(TrackDetail::Metadata); }

std::vector<TrackInfo> Reader::tracks(TrackDetail detail) const {
  std::vector<TrackInfo> all;
  for (std::uint32_t id : trackIds()) all.push_back(track(id, detail));
  return all;
}

void Reader::forEachSample(std::uint32_t track, std::uint64_t from, std::uint64_t to,
                           const std::function<void(const Sample* sample)>& visit) const {
  static constexpr const char* kOperation = "forEachSample";
  ReaderCore& core = CoreOf(m_core, kOperation);
  const std::optional<std::uint64_t> first = core.FirstTimestamp(track, kOperation);
  if (!first || from > to) return;
  // A move that fails on a sample block leaves the track on that sample, so the next step goes
  // on past it. MFS_E_NOT_SET: a MoveTo that failed before it positioned the track ends the walk.
  Sample s;
  HRESULT hr = core.TryMove(s, track, ReaderCore::Move::To, std::max(from, *first), "MoveTo");
  for (;;) {
    if (hr == MFS_E_NO_VALUE || hr == MFS_E_NOT_SET) {
      (void)QuorTakeErrorDescription();  // (void): the end of the track
      return;
    }
    if (FAILED(hr)) {
      (void)QuorTakeErrorDescription();  // (void): passed on as an unreadable sample
      visit(nullptr);
    } else if (s.timestamp() > to) {
      return;
    } else if (s.timestamp() >= from) {
      visit(&s);
    }
    hr = core.TryMove(s, track, ReaderCore::Move::Next, 0, "MoveNext");
  }
}

SampleRange Reader::samples(std::uint32_t track, std::uint64_t from, std::uint64_t to) const {
  (void)CoreOf(m_core, "samples").Get("samples");  // (void): fails early on a closed reader
  SampleRange range;
  range.m_core = m_core;
  range.m_track = track;
  range.m_from = from;
  range.m_to = to;
  return range;
}

std::optional<Sample> Reader::moveTo(std::uint32_t track, std::uint64_t t) const {
  ReaderCore& core = CoreOf(m_core, "moveTo");
  const std::optional<std::uint64_t> first = core.FirstTimestamp(track, "moveTo");
  if (!first) return std::nullopt;
  Sample s;
  core.Step(s, track, ReaderCore::Move::To, std::max(t, *first), "MoveTo");
  return s;
}

std::optional<Sample> Reader::next(std::uint32_t track) const {
  Sample s;
  if (!CoreOf(m_core, "next").Step(s, track, ReaderCore::Move::Next, 0, "MoveNext")) {
    return std::nullopt;
  }
  return s;
}

std::optional<Sample> Reader::previous(std::uint32_t track) const {
  Sample s;
  if (!CoreOf(m_core, "previous").Step(s, track, ReaderCore::Move::Previous, 0, "MovePrevious")) {
    return std::nullopt;
  }
  return s;
}

namespace {

// Runs walk on the calling thread while, when progress or a possible stop asks for it, a second
// thread calls tick(stopping) about every 50 ms until walk returns: stopping is true once stop
// is requested or progress threw (what it threw is rethrown after the walk).
template <class Walk>
void WithPoller(const ProgressFn& progress, const std::stop_token& stop,
                const std::function<void(bool stopping)>& tick, Walk&& walk) {
  std::mutex lock;
  std::condition_variable wake;
  bool done = false;
  std::exception_ptr progressError;
  std::thread poller;
  if (progress || stop.stop_possible()) {
    poller = std::thread([&] {
      std::unique_lock guard(lock);
      while (!done) {
        guard.unlock();
        try {
          tick(stop.stop_requested() || progressError);
        } catch (...) {
          progressError = std::current_exception();
        }
        guard.lock();
        wake.wait_for(guard, std::chrono::milliseconds(50), [&] { return done; });
      }
    });
  }
  walk();
  if (poller.joinable()) {
    {
      std::scoped_lock guard(lock);
      done = true;
    }
    wake.notify_all();
    poller.join();
  }
  if (progressError) std::rethrow_exception(progressError);
}

// The first damage of every file that was tested and is not authentic.
void FindDamage(Authentication& result) {
  for (FileVerdict& file : result.files) {
    if (file.authentic || !has(file.status, FileStatus::Tested)) continue;
    std::optional<QuorFirstDamage> damage;
    if (const HRESULT hr = QuorFindFirstDamage(file.name, &damage); FAILED(hr)) {
      throw Error(hr, "authenticate", "cannot walk " + file.name);
    }
    if (damage) file.damage = Damage{damage->offset, damage->blockIndex, damage->problem};
  }
}

}  // namespace

Authentication Reader::authenticate(const ProgressFn& progress, const std::stop_token& stop) const {
  IQuorMediaFileReader* r = CoreOf(m_core, "authenticate").Get("authenticate");
  Authentication result;
  if (stop.stop_requested()) {
    result.cancelled = true;
  } else {
    // The reader allows exactly these two calls from the poller while IsAuthentic runs. A
    // cancel that comes before the walk has begun is refused (MFS_E_WRONG_STATE), so it is
    // repeated until the walk ends.
    const auto tick = [&](bool stopping) {
      SHORT percent = 0;
      if (stopping) {
        (void)r->CancelAuthentication();  // (void): refused only when no walk runs
      } else if (progress && SUCCEEDED(r->GetAuthenticationProgress(&percent))) {
        progress(static_cast<unsigned>(std::clamp<int>(percent, 0, 100)));
      }
    };
    VARIANT_BOOL authentic = VARIANT_FALSE;
    HRESULT hr = S_OK;
    std::string description;
    WithPoller(progress, stop, tick, [&] {
      hr = r->IsAuthentic(&authentic);
      if (FAILED(hr)) description = QuorTakeErrorDescription();
    });
    if (hr == MFS_E_AUTH_CANCELLED) {
      result.cancelled = true;
    } else {
      if (FAILED(hr)) throw Error(hr, "IsAuthentic", description);
      result.authentic = QuorIsTrue(authentic);
      if (progress) progress(100);
    }
  }
  FileSetInfo info = this->info();
  result.complete = info.complete;
  for (MemberFile& file : info.files) {
    result.files.push_back(
        {std::move(file.name), has(file.status, FileStatus::Authentic), file.status, {}});
  }
  if (!result.cancelled) FindDamage(result);
  return result;
}

std::vector<SealCheck> Reader::verifySeals(const std::string& publicKeyFile,
                                           Authentication* authentication,
                                           const ProgressFn& progress,
                                           const std::stop_token& stop) const {
  const FileSetInfo fileSet = info();
  CQuorSealKey key;
  QuorMessage<> message = kQuorNoMessage;
  if (const HRESULT hr = key.LoadPublic(publicKeyFile, &message); FAILED(hr)) {
    throw Error(hr, "verifySeals", message.Text());
  }
  // The block index chain runs through the files in fileset order; as in IsAuthentic, the first
  // file stands for a fileset whose files declare no position.
  std::vector<QuorMemberCheck> files(fileSet.files.size());
  bool positioned = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i].path = fileSet.files[i].name;
    files[i].chainPosition = fileSet.files[i].filesetIndex;
    positioned |= files[i].chainPosition.has_value();
  }
  if (!positioned && !files.empty()) files[0].chainPosition = 0;

  std::atomic<bool> cancel{false};
  std::atomic<ULONGLONG> bytesDone{0};
  std::uint64_t total = 0;
  HRESULT hr = S_OK;
  const auto check = [&] {
    hr = QuorCheckMemberFiles(&files, &key, authentication != nullptr, &cancel, &bytesDone);
  };
  if (authentication) {
    *authentication = Authentication{};
    if (stop.stop_requested()) {
      authentication->cancelled = true;
      return {};
    }
    for (const MemberFile& f : fileSet.files) {
      std::error_code error;
      const std::uintmax_t size = std::filesystem::file_size(f.name, error);
      if (!error) total += size;
    }
    WithPoller(
        progress, stop,
        [&](bool stopping) {
          if (stopping) {
            cancel = true;
          } else if (progress) {
            progress(total == 0 ? 0
                                : static_cast<unsigned>(std::min<std::uint64_t>(
                                      100, bytesDone.load() * 100 / total)));
          }
        },
        check);
  } else {
    check();
  }
  if (hr == MFS_E_AUTH_CANCELLED && authentication) {
    authentication->cancelled = true;
    return {};
  }
  if (FAILED(hr)) throw Error(hr, "verifySeals", "cannot read the member files");

  std::vector<SealCheck> checks;
  for (const QuorMemberCheck& file : files) {
    const QuorSealReport& report = file.seal;
    checks.push_back({file.path, static_cast<SealState>(report.state), report.lastBlock,
                      report.sealedEnd, report.fileSize, report.Describe()});
  }
  if (authentication) {
    Authentication& result = *authentication;
    result.complete = fileSet.complete;
    bool authentic = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
      FileStatus status = fileSet.files[i].status;
      if (files[i].tested) {
        status = (status | FileStatus::Tested) & ~FileStatus::Authentic;
        if (files[i].authentic) status |= FileStatus::Authentic;
        authentic = authentic && files[i].authentic;
      }
      result.files.push_back({files[i].path, has(status, FileStatus::Authentic), status, {}});
    }
    result.authentic = authentic && result.complete;
    if (progress) progress(100);
    FindDamage(result);
  }
  return checks;
}

}  // namespace quor
