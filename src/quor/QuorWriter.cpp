// quor::Writer over IQuorMediaFileWriter: set-up in one call, writes through one reused sample
// object that takes each payload without a second copy, and a stop that drains first.
#include <cstring>
#include <mutex>

#include "quor/QuorApiSupport.h"
#include "quormediafiles/QuorMediaFilesInternal.h"

namespace quor {

using detail::Check;
using detail::Translate;
using detail::Utf8Bstr;

struct Writer::Impl {
  CQuorComPtr<IQuorMediaFileWriter> writer;
  CQuorComPtr<IQuorMediaFileWriter2> writer2;
  CQuorComPtr<IQuorMediaFileWriterOptions> options;
  std::uint64_t maxFileBytes = 0;
  std::mutex writeLock;  // guards the members below
  CQuorComPtr<IQuorMediaFileSample> sample;
  CQuorComPtr<IQuorMediaFileSampleAccess> sampleAccess;
  bool stopped = false;
};

namespace {

CQuorComPtr<IQuorTrackMetadata> TrackMetadata(const TrackSpec& wanted) {
  auto m = QuorCreate<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
  QuorCheck(m->SetTrackId(wanted.id), "SetTrackId");
  const auto text = [&](HRESULT (IQuorTrackMetadata::*set)(BSTR), const std::string& value,
                        const char* what) {
    if (!value.empty()) QuorCheck((m.Get()->*set)(Utf8Bstr(value, what).Get()), what);
  };
  text(&IQuorTrackMetadata::SetTrackName, wanted.name, "track name");
  text(&IQuorTrackMetadata::SetSourceUrl, wanted.sourceUrl, "source URL");
  text(&IQuorTrackMetadata::SetMediaSessionPlugin, wanted.mediaSessionPlugin,
       "media session plug-in");
  if (!wanted.videoFormat.empty()) {
    text(&IQuorTrackMetadata::SetVideoFormatIdentifier, formatIdentifier(wanted.videoFormat),
         "video format");
  }
  if (!wanted.audioFormat.empty()) {
    text(&IQuorTrackMetadata::SetAudioFormatIdentifier, formatIdentifier(wanted.audioFormat),
         "audio format");
  }
  if (wanted.sourceId) QuorCheck(m->SetSourceId(*wanted.sourceId), "SetSourceId");
  if (wanted.pairId) QuorCheck(m->SetPairId(*wanted.pairId), "SetPairId");
  QuorCheck(m->SetVideoFlag(QuorVariantBool(wanted.video)), "SetVideoFlag");
  QuorCheck(m->SetAudioFlag(QuorVariantBool(wanted.audio)), "SetAudioFlag");
  for (const std::string& filter : wanted.filters) {
    QuorCheck(m->AddFilter(Utf8Bstr(filter, "filter").Get()), "AddFilter");
  }
  return m;
}

}  // namespace

Writer::Writer(std::unique_ptr<Impl> impl) noexcept : m_impl(std::move(impl)) {}
Writer::Writer(Writer&&) noexcept = default;
Writer& Writer::operator=(Writer&& other) noexcept {
  if (this != &other) {
    if (m_impl) {
      try {
        stop();
      } catch (...) {  // NOLINT: a move assignment cannot report; stop() is there for that
      }
    }
    m_impl = std::move(other.m_impl);
  }
  return *this;
}

Writer::~Writer() {
  if (!m_impl) return;
  try {
    stop();
  } catch (...) {  // NOLINT: a destructor cannot report; stop() is there for that
  }
}

Writer Writer::create(const std::string& path, const Limits& limits,
                      const std::vector<TrackSpec>& tracks, const WriterOptions& options) {
  return Translate([&] {
    const CQuorBstr name = Utf8Bstr(path, "path");
    auto impl = std::make_unique<Impl>();
    impl->writer = QuorCreate<IQuorMediaFileWriter>(CLSID_QuorMediaFileWriter);
    QuorCheck(impl->writer.As(&impl->writer2), "QueryInterface");
    QuorCheck(impl->writer.As(&impl->options), "QueryInterface");
    impl->maxFileBytes = std::uint64_t{limits.maxFileSizeKiB} * 1024;
    impl->sample = QuorCreate<IQuorMediaFileSample>(CLSID_QuorMediaFileSample);
    QuorCheck(impl->sample.As(&impl->sampleAccess), "QueryInterface");

    IQuorMediaFileWriter* w = impl->writer.Get();
    if (!options.signingKey.empty()) {
      CQuorComPtr<IQuorMediaFileWriterSeal> seal;
      QuorCheck(impl->writer.As(&seal), "QueryInterface");
      QuorCheck(seal->SetSigningKey(Utf8Bstr(options.signingKey, "signingKey").Get()),
                "SetSigningKey");
    }
    QuorCheck(w->Initialize(name.Get(), limits.maxFileSizeKiB, limits.maxFiles,
                            QuorVariantBool(options.overwrite)),
              "Initialize");
    if (!options.description.empty()) {
      QuorCheck(w->SetDescription(Utf8Bstr(options.description, "description").Get()),
                "SetDescription");
    }
    if (!options.password.empty()) {
      QuorCheck(w->SetPassword(Utf8Bstr(options.password, "password").Get()), "SetPassword");
    }
    QuorCheck(impl->options->SetDurable(QuorVariantBool(options.durable)), "SetDurable");
    QuorCheck(impl->options->SetIndexPeriod(options.indexPeriodSeconds), "SetIndexPeriod");
    if (options.payloadOnly) {
      QuorCheck(impl->writer2->SetPayloadOnly(VARIANT_TRUE), "SetPayloadOnly");
    }
    for (const TrackSpec& wanted : tracks) {
      QuorCheck(w->AddTrack(TrackMetadata(wanted).Get()), "AddTrack");
    }
    QuorCheck(w->StartRecording(), "StartRecording");
    return Writer(std::move(impl));
  });
}

WriteResult Writer::write(std::uint32_t track, std::uint64_t timestamp, SampleFlags flags,
                          std::span<const std::byte> payload) {
  static constexpr const char* kOperation = "Write";
  if (!m_impl) throw Error(MFS_E_WRONG_STATE, kOperation, "the writer was moved from");
  Impl& impl = *m_impl;
  std::scoped_lock lock(impl.writeLock);
  if (impl.stopped) throw Error(MFS_E_WRONG_STATE, kOperation, "the recording was stopped");
  if (payload.size() > impl.maxFileBytes) {
    throw Error(MFS_E_FILE_FULL, kOperation,
                "a payload of " + std::to_string(payload.size()) +
                    " bytes does not fit into a member file of at most " +
                    std::to_string(impl.maxFileBytes / 1024) + " KiB");
  }
  if (FAILED(impl.sample->SetSampleFlags(static_cast<ULONG>(flags)))) {
    throw Error(E_INVALIDARG, kOperation,
                "sample flags need Video or Audio and one of KeyFrame, NotKeyFrame, FrameMark");
  }
  Check(impl.sample->SetTimestamp(timestamp), "SetTimestamp");
  CQuorSafeArray data = CQuorSafeArray::CreateVector(VT_UI1, 0, static_cast<ULONG>(payload.size()));
  if (!data) throw std::bad_alloc();
  if (!payload.empty()) std::memcpy(data.Get()->pvData, payload.data(), payload.size());
  Check(impl.sampleAccess->TakePayload(data.Get()), "TakePayload");
  (void)data.Detach();  // (void): the sample owns the array now
  const HRESULT hr = Check(impl.writer->Write(track, impl.sample.Get()), kOperation);
  return hr == MFS_S_NEXT_FILE ? WriteResult::RolledOver : WriteResult::Queued;
}

WriterStatus Writer::status() const {
  if (!m_impl) throw Error(MFS_E_WRONG_STATE, "status", "the writer was moved from");
  return Translate([&] {
    CQuorComPtr<IQuorMediaFileRecordingStatus> s;
    QuorCheck(m_impl->writer->GetRecordingStatus(s.AddressOf()), "GetRecordingStatus");
    WriterStatus status;
    WriterStateEnum state = wseCreated;
    QuorCheck(s->GetWriterState(&state), "GetWriterState");
    status.state = static_cast<WriterState>(state);
    ULONG index = 0;
    QuorCheck(s->GetCurrentFileIndex(&index), "GetCurrentFileIndex");
    status.currentFileIndex = index;
    status.currentFileName =
        QuorGetOptionalString([&](BSTR* p) { return s->GetCurrentFileName(p); },
                              "GetCurrentFileName")
            .value_or("");
    QuorCheck(s->GetBytesWrittenTotal(&status.bytesWrittenTotal), "GetBytesWrittenTotal");
    QuorCheck(s->GetBytesWrittenCurrentFile(&status.bytesWrittenCurrentFile),
              "GetBytesWrittenCurrentFile");
    QuorCheck(m_impl->options->GetDroppedSampleCount(&status.droppedSamples),
              "GetDroppedSampleCount");
    return status;
  });
}

void Writer::drain() {
  if (!m_impl) throw Error(MFS_E_WRONG_STATE, "drain", "the writer was moved from");
  Check(m_impl->writer2->Drain(), "Drain");
}

void Writer::stop() {
  if (!m_impl) return;
  Impl& impl = *m_impl;
  std::scoped_lock lock(impl.writeLock);
  if (impl.stopped) return;
  impl.stopped = true;
  Check(impl.writer2->Drain(), "Drain");
  // A recording that ended by itself (the last file or the disk full) is closed already.
  if (status().state != WriterState::Finished) {
    Check(impl.writer->StopRecording(), "StopRecording");
  }
}

}  // namespace quor
