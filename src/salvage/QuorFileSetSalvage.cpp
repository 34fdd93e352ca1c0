#include "salvage/QuorFileSetSalvage.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "core/LoggedException.h"
#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorFormatLayout.h"
#include "format/QuorForwardBlockWalker.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorTrackInfoBlock.h"
#include "objects/QuorMediaFileSample.h"
#include "platform/com/QuorUnknownImpl.h"
#include "platform/io/QuorFileSystem.h"
#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "reader/QuorMediaFileReader.h"
#include "storage/QuorFileStorage.h"
#include "storage/QuorMemberFileName.h"
#include "writer/QuorMediaFileWriter.h"

namespace {

// The new fileset's member files may grow this much beyond the largest source member, for a
// longer description; and it may have this many of them.
constexpr ULONGLONG kSizeMarginKiB = 4;
constexpr ULONG kMaxOutputFiles = 1000000;
// Samples handed to the writer and not yet written, and their payload bytes: enough that its
// worker never runs dry while the reading thread waits for a turn, few enough that its queue holds
// little memory.
constexpr ULONGLONG kMaxSamplesInFlight = 4096;
constexpr ULONGLONG kMaxBytesInFlight = 32u << 20;
// How often a waiting reader looks at the writer's count, and asks whether it still records.
constexpr auto kWriterPoll = std::chrono::microseconds(50);
constexpr unsigned kStatePolls = 16;

struct Sample {
  std::size_t member = 0;  // into the members list
  CQuorMediaSampleIndex entry;
};

// Samples go out in timestamp order, which within a member file is mostly the order of their
// blocks: each member is read a window at a time, so that the payloads of a run of samples take
// one read.
constexpr DWORD kWindowSize = 512u << 10;

struct Member {
  const QuorCandidateFile* file = nullptr;
  std::unique_ptr<CQuorFileStorage> storage;
  std::vector<BYTE> window;  // the file's bytes from windowStart on; freed after its last sample
  ULONGLONG windowStart = 0;

  // The length bytes of the file at offset, read into the window unless it holds them.
  HRESULT View(ULONGLONG offset, DWORD length, const BYTE** bytes) {
    if (offset < windowStart || offset + length > windowStart + window.size()) {
      ULONGLONG remaining = 0;
      QUOR_RETURN_IF_FAILED(storage->Seek(0, static_cast<LONGLONG>(offset), soBegin));
      QUOR_RETURN_IF_FAILED(storage->GetRemaining(&remaining));
      if (remaining < length) return MFS_E_BAD_FORMAT;
      window.resize(
          static_cast<std::size_t>(std::min<ULONGLONG>(remaining, std::max(length, kWindowSize))));
      windowStart = offset;
      const HRESULT hr = storage->Read(window.data(), static_cast<DWORD>(window.size()));
      if (FAILED(hr)) {
        window.clear();
        return hr;
      }
    }
    *bytes = window.data() + (offset - windowStart);
    return S_OK;
  }
};

using Tracks = std::map<DWORD, CQuorComPtr<IQuorTrackMetadata>>;

// One member file's walk: what it found, before it is taken in member order.
struct MemberWalk {
  const QuorCandidateFile* file = nullptr;
  bool duplicate = false;  // a second member at its fileset index: not walked
  HRESULT result = S_OK;
  Member member;
  std::vector<QuorSalvageLoss> lost;
  Tracks tracks;  // the first intact track info block of each track in this member
  std::vector<CQuorMediaSampleIndex> entries;
  // Offset and whether its hash holds, of each media sample block in the order of the walk,
  // which is the order of their offsets.
  std::vector<std::pair<ULONGLONG, bool>> sampleBlocks;
  std::map<ULONGLONG, std::size_t> damagedSamples;  // offset: its entry in lost
  QuorSalvagedFile salvaged;
};

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// S_OK when the fileset has no password or one member's stored hash is password's.
HRESULT CheckPassword(const std::vector<const QuorCandidateFile*>& members,
                      const std::string& password) {
  bool protectedSet = false;
  BYTE digest[kQuorMD5DigestSize] = {};
  if (!password.empty()) {
    CQuorBstr text = CQuorBstr::Copy(QuorUtf8ToUtf16(password));
    if (!text) return E_OUTOFMEMORY;
    CQuorMD5Hash hash;
    QUOR_RETURN_IF_FAILED(hash.AddString(text.Get()));
    QUOR_RETURN_IF_FAILED(hash.GetDigest(digest));
  }
  for (const QuorCandidateFile* f : members) {
    if (f->passwordHash.empty()) continue;
    protectedSet = true;
    if (!password.empty() && std::memcmp(f->passwordHash.data(), digest, kHashSize) == 0) {
      return S_OK;
    }
  }
  return protectedSet ? MFS_E_BAD_PASSWORD : S_OK;
}

// Walks members on a background thread, in member order, while the caller takes each walk as it
// ends; with no thread to be had, each walk is run by the caller when it asks for it. One thread:
// walking runs beside the writer's worker and the thread that feeds it, which keep two cores
// busy, and a second walking thread only takes turns from them (measured slower). Stops handing
// out walks when destroyed, after the walk in progress.
class CMemberWalker {
 public:
  using WalkFunction = HRESULT (*)(MemberWalk&);

  CMemberWalker(std::vector<MemberWalk>& walks, WalkFunction walk)
      : m_walks(walks), m_walk(walk), m_done(walks.size()) {
    if (walks.size() < 2) return;
    try {
      m_thread = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
      // The caller walks them all.
    }
  }
  CMemberWalker(const CMemberWalker&) = delete;
  CMemberWalker& operator=(const CMemberWalker&) = delete;
  ~CMemberWalker() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }

  // Waits until walk i (not a duplicate) has ended; its result is in it.
  void Wait(std::size_t i) {
    if (!m_thread.joinable()) {
      Walk(m_walks[i]);
      return;
    }
    std::unique_lock lock(m_lock);
    m_ended.wait(lock, [&] { return static_cast<bool>(m_done[i]); });
  }

 private:
  void Work() {
    for (std::size_t i = 0; i < m_walks.size() && !m_stop; ++i) {
      if (m_walks[i].duplicate) continue;
      Walk(m_walks[i]);
      {
        std::lock_guard lock(m_lock);
        m_done[i] = true;
      }
      m_ended.notify_all();
    }
  }

  void Walk(MemberWalk& w) const {
    try {
      w.result = m_walk(w);
    } catch (const std::bad_alloc&) {
      w.result = E_OUTOFMEMORY;
    } catch (const CLoggedException& e) {
      w.result = e.Hr();
    }
  }

  std::vector<MemberWalk>& m_walks;
  const WalkFunction m_walk;
  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  std::condition_variable m_ended;
  std::vector<char> m_done;  // guarded by m_lock
  std::thread m_thread;
};

bool ByTimestamp(const Sample& a, const Sample& b) {
  return a.entry.m_timestamp < b.entry.m_timestamp;
}

class CSalvage {
 public:
  CSalvage(QuorSalvageReport& report) : m_report(report) {}

  HRESULT Run(const std::string& source, const std::string& target, const std::string& password) {
    CQuorFileSetDiagnosis diagnosis;
    QUOR_RETURN_IF_FAILED(diagnosis.Diagnose(source));
    m_report.sourceGuid = diagnosis.m_guid;
    const std::vector<const QuorCandidateFile*> members = diagnosis.Members();
    if (members.empty()) return MFS_E_BAD_FORMAT;
    QUOR_RETURN_IF_FAILED(CheckPassword(members, password));
    m_target = target;
    m_password = password;

    // Every member but a second one at a fileset index is walked, ahead on another thread; each
    // walk is taken in member order as it ends, and its samples written while later members are
    // walked.
    std::set<DWORD> seenIndexes;
    std::vector<MemberWalk> walks(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
      walks[i].file = members[i];
      walks[i].duplicate =
          members[i]->filesetIndex && !seenIndexes.insert(*members[i]->filesetIndex).second;
      if (!walks[i].duplicate) m_largestMember = std::max(m_largestMember, members[i]->size);
    }
    CMemberWalker walker(walks, &CSalvage::WalkMember);
    for (std::size_t i = 0; i < walks.size(); ++i) {
      MemberWalk& walk = walks[i];
      const QuorCandidateFile* f = walk.file;
      if (walk.duplicate) {
        m_report.lost.push_back({f->path,
                                 0,
                                 f->size,
                                 "a second member file with fileset index " +
                                     std::to_string(*f->filesetIndex) + "; not read",
                                 {},
                                 {}});
        continue;
      }
      walker.Wait(i);
      if (FAILED(walk.result)) {
        // A member that cannot be read ends the salvage with no new fileset, as before anything
        // was written.
        (void)DiscardOutput();
        return walk.result;
      }
      const std::size_t taken = m_samples.size();
      TakeMember(walk);
      QUOR_RETURN_IF_FAILED(WriteAsTaken(taken));
    }
    for (const QuorCandidateFile& f : diagnosis.m_files) {
      if (f.kind == QuorCandidateKind::ckUnreadable && f.size > 0) {
        m_report.lost.push_back({f.path, 0, f.size, "not read: " + f.problem, {}, {}});
      }
    }
    if (!m_writer) {
      // No sample was taken, or what was written went out of order and was discarded.
      std::stable_sort(m_samples.begin(), m_samples.end(), ByTimestamp);
      QUOR_RETURN_IF_FAILED(StartWriter());
      QUOR_RETURN_IF_FAILED(WriteSamples(0));
    }
    QUOR_RETURN_IF_FAILED(WaitForWriter(m_written, 0, 0));
    for (QuorSalvageLoss& loss : m_writeLosses) m_report.lost.push_back(std::move(loss));
    m_report.samplesWritten = m_written;
    return m_writer->StopRecording();
  }

 private:
  void Lose(const std::string& file, ULONGLONG offset, ULONGLONG length, std::string reason) {
    m_report.lost.push_back({file, offset, length, std::move(reason), {}, {}});
  }

  // Walks one member file and notes what it finds, for TakeMember.
  static HRESULT WalkMember(MemberWalk& w) {
    const QuorCandidateFile* file = w.file;
    w.member.file = file;
    w.member.storage = std::make_unique<CQuorFileStorage>();
    const std::u16string name = QuorUtf8ToUtf16(file->path);
    QUOR_RETURN_IF_FAILED(w.member.storage->OpenFileForInspection(name.c_str()));

    const auto lose = [&](ULONGLONG offset, ULONGLONG length, std::string reason) {
      w.lost.push_back({file->path, offset, length, std::move(reason), {}, {}});
    };
    QuorForwardWalk walk;
    const HRESULT hr = CQuorForwardBlockWalker::Walk(
        *w.member.storage->GetReader(),
        [&](const QuorWalkedBlock& b) -> HRESULT {
          const std::string kind = QuorBlockTypeName(b.type);
          if (!b.hashValid) {
            if (b.type == btMediaSample) w.damagedSamples[b.offset] = w.lost.size();
            lose(b.offset, b.size,
                 kind + " block fails its block hash check" +
                     (b.type == btIndex ? ": the samples it lists are not trusted" : ""));
          }
          switch (b.type) {
            case btTrackInfo:
              if (b.hashValid) KeepTrack(static_cast<CQuorTrackInfoBlock&>(*b.block), &w.tracks);
              break;
            case btIndex:
              if (b.hashValid) QUOR_RETURN_IF_FAILED(TakeEntries(*b.block, &w.entries));
              break;
            case btMediaSample:
              w.sampleBlocks.emplace_back(b.offset, b.hashValid);
              break;
            default:
              break;
          }
          return S_OK;
        },
        &walk);
    QUOR_RETURN_IF_FAILED(hr);
    for (const QuorSkippedBytes& skip : walk.skipped) {
      lose(skip.offset, skip.length, "unreadable bytes: " + skip.reason);
    }
    if (!walk.cleanEnd && walk.endOffset < walk.fileSize) {
      lose(walk.endOffset, walk.fileSize - walk.endOffset, "unreadable bytes: " + walk.end);
    }
    w.salvaged.file = file->path;
    w.salvaged.filesetIndex = file->filesetIndex;
    w.salvaged.blocks = walk.blocks;
    w.salvaged.end = walk.end;
    return S_OK;
  }

  // Keeps what a member's walk can prove: its tracks that no earlier member described, and the
  // samples its intact index blocks list whose blocks are intact and whose track is known.
  void TakeMember(MemberWalk& w) {
    const QuorCandidateFile* file = w.file;
    const std::size_t lostBefore = m_report.lost.size();
    for (QuorSalvageLoss& loss : w.lost) m_report.lost.push_back(std::move(loss));
    for (auto& [id, metadata] : w.tracks) m_tracks.try_emplace(id, std::move(metadata));
    const std::size_t memberIndex = m_members.size();
    // Every position is taken at its first entry only.
    std::vector<bool> listed(w.sampleBlocks.size());
    std::set<ULONGLONG> listedElsewhere;  // positions of no media sample block
    for (const CQuorMediaSampleIndex& entry : w.entries) {
      auto block = std::lower_bound(w.sampleBlocks.begin(), w.sampleBlocks.end(), entry.m_position,
                                    [](const std::pair<ULONGLONG, bool>& b, ULONGLONG position) {
                                      return b.first < position;
                                    });
      if (block != w.sampleBlocks.end() && block->first != entry.m_position) {
        block = w.sampleBlocks.end();
      }
      if (block == w.sampleBlocks.end()) {
        if (!listedElsewhere.insert(entry.m_position).second) continue;
      } else {
        const auto i = static_cast<std::size_t>(block - w.sampleBlocks.begin());
        if (listed[i]) continue;
        listed[i] = true;
      }
      if (block != w.sampleBlocks.end() && block->second && m_tracks.contains(entry.m_trackId)) {
        m_samples.push_back({memberIndex, entry});
        continue;
      }
      if (const auto damaged = w.damagedSamples.find(entry.m_position);
          damaged != w.damagedSamples.end()) {
        m_report.lost[lostBefore + damaged->second].trackId = entry.m_trackId;
        m_report.lost[lostBefore + damaged->second].timestamp = entry.m_timestamp;
        continue;
      }
      QuorSalvageLoss loss{file->path,
                           entry.m_position,
                           0,
                           block == w.sampleBlocks.end()
                               ? "an index entry points at no readable media sample block"
                               : "its track has no intact track info block",
                           entry.m_trackId,
                           entry.m_timestamp};
      m_report.lost.push_back(std::move(loss));
    }
    for (std::size_t i = 0; i < w.sampleBlocks.size(); ++i) {
      const auto& [offset, valid] = w.sampleBlocks[i];
      if (valid && !listed[i]) {
        Lose(file->path, offset, 0,
             "media sample block that no intact index block lists (track and timestamp unknown)");
      }
    }
    m_report.files.push_back(std::move(w.salvaged));
    m_members.push_back(std::move(w.member));
  }

  static void KeepTrack(CQuorTrackInfoBlock& block, Tracks* tracks) {
    DWORD id = 0;
    if (FAILED(block.GetTrackId(&id)) || tracks->contains(id)) return;
    try {
      (*tracks)[id] = QuorTrackMetadataFromBlock(block, id);
    } catch (const CLoggedException&) {
      // A track info block that passes its hash but describes no track the writer takes: its
      // samples are reported lost with the reason that their track is unknown.
    }
  }

  static HRESULT TakeEntries(CQuorMediaFileBlock& block, std::vector<CQuorMediaSampleIndex>* out) {
    auto& index = static_cast<CQuorIndexBlock&>(block);
    std::vector<DWORD> ids;
    QUOR_RETURN_IF_FAILED(index.GetTrackIds(&ids));
    for (DWORD id : ids) {
      std::vector<CQuorMediaSampleIndex> entries;
      if (FAILED(index.GetIndexes(id, &entries))) continue;
      out->insert(out->end(), entries.begin(), entries.end());
    }
    return S_OK;
  }

  // The payload of the media sample block at position of a member, as it lies (its hash was
  // checked by the walk): a view into the member's window, valid until its next Payload.
  HRESULT Payload(const Sample& sample, const BYTE** data, DWORD* length) {
    Member& member = m_members[sample.member];
    const ULONGLONG position = sample.entry.m_position;
    const BYTE* head = nullptr;
    constexpr DWORD kHeadSize = kBlockHeaderSize + kFieldHeaderSize;
    QUOR_RETURN_IF_FAILED(member.View(position, kHeadSize, &head));
    *length = DecodeU32(head + kBlockHeaderSize + 4);
    if (DecodeU32(head) != btMediaSample || DecodeU32(head + kBlockHeaderSize) != kTagPayload ||
        *length == 0) {
      return MFS_E_BAD_FORMAT;
    }
    QUOR_RETURN_IF_FAILED(member.View(position, kHeadSize + *length, &head));
    *data = head + kHeadSize;
    return S_OK;
  }

  HRESULT WriterState(WriterStateEnum* state) {
    CQuorComPtr<IQuorMediaFileRecordingStatus> status;
    QUOR_RETURN_IF_FAILED(m_writer->GetRecordingStatus(status.AddressOf()));
    return status->GetWriterState(state);
  }

  // Waits until the writer's worker has no more than inFlight samples and inFlightBytes payload
  // bytes of the written ones left, or has ended (S_FALSE).
  HRESULT WaitForWriter(ULONGLONG written, ULONGLONG inFlight, ULONGLONG inFlightBytes) {
    for (unsigned poll = 0;; ++poll) {
      const ULONGLONG handled = std::min<ULONGLONG>(m_writer->GetSamplesHandled(), written);
      if (written - handled <= inFlight &&
          m_writtenBytes[written] - m_writtenBytes[handled] <= inFlightBytes) {
        return S_OK;
      }
      if (poll % kStatePolls == 0) {
        WriterStateEnum state = wseCreated;
        QUOR_RETURN_IF_FAILED(WriterState(&state));
        if (state != wseStarted) return S_FALSE;
      }
      std::this_thread::sleep_for(kWriterPoll);
    }
  }

  // The new fileset is written as members are taken, while later ones are still walked, as
  // long as each member's samples come at or after every sample before them and it describes
  // no track that the new fileset lacks. A member that breaks this has the new fileset discarded:
  // every sample is then written at the end, in timestamp order. Either way the new fileset is
  // the same: the samples of all members in timestamp order, members in order where equal.
  HRESULT WriteAsTaken(std::size_t taken) {
    if (m_discarded) return S_OK;
    std::stable_sort(m_samples.begin() + static_cast<std::ptrdiff_t>(taken), m_samples.end(),
                     ByTimestamp);
    const bool noNewSamples = taken == m_samples.size();
    const bool inOrder =
        noNewSamples || taken == 0 || !ByTimestamp(m_samples[taken], m_samples[taken - 1]);
    const bool sameTracks = !m_writer || m_tracks.size() == m_writerTracks;
    if (!inOrder || !sameTracks) {
      m_discarded = true;
      return DiscardOutput();
    }
    if (noNewSamples) return S_OK;
    if (!m_writer) QUOR_RETURN_IF_FAILED(StartWriter());
    return WriteSamples(taken);
  }

  HRESULT StartWriter() {
    const ULONGLONG sizeKiB = std::clamp<ULONGLONG>(m_largestMember / 1024 + kSizeMarginKiB,
                                                    kQuorMinFileSizeKiB, kQuorMaxFileSizeKiB);
    QUOR_RETURN_IF_FAILED(QuorCreateObject(&m_writer));
    CQuorBstr targetName = CQuorBstr::Copy(QuorUtf8ToUtf16(m_target));
    if (!targetName) return E_OUTOFMEMORY;
    QUOR_RETURN_IF_FAILED(m_writer->Initialize(targetName.Get(), static_cast<ULONG>(sizeKiB),
                                               kMaxOutputFiles, VARIANT_FALSE));
    QUOR_RETURN_IF_FAILED(Describe());
    if (!m_password.empty()) {
      CQuorBstr text = CQuorBstr::Copy(QuorUtf8ToUtf16(m_password));
      if (!text) return E_OUTOFMEMORY;
      QUOR_RETURN_IF_FAILED(m_writer->SetPassword(text.Get()));
    }
    for (auto& [id, metadata] : m_tracks) QUOR_RETURN_IF_FAILED(m_writer->AddTrack(metadata.Get()));
    m_writerTracks = m_tracks.size();
    m_written = 0;
    m_writtenBytes.assign(1, 0);
    return m_writer->StartRecording();
  }

  // Writes the samples from first on.
  HRESULT WriteSamples(std::size_t first) {
    // One sample object for all: it lends the writer each payload from its member's window,
    // which Write copies into its queue.
    CQuorComPtr<CQuorMediaFileSample> sample;
    QUOR_RETURN_IF_FAILED(QuorCreateObject(&sample));
    std::vector<std::size_t> lastSample(m_members.size());
    for (std::size_t i = first; i < m_samples.size(); ++i) lastSample[m_samples[i].member] = i;
    for (std::size_t i = first; i < m_samples.size(); ++i) {
      const Sample& s = m_samples[i];
      const BYTE* data = nullptr;
      DWORD length = 0;
      QUOR_RETURN_IF_FAILED(Payload(s, &data, &length));
      QUOR_RETURN_IF_FAILED(sample->SetTimestamp(s.entry.m_timestamp));
      QUOR_RETURN_IF_FAILED(sample->SetSampleFlags(
          CQuorMediaFileSample::SampleFlagsFromEntryFlags(s.entry.m_flags & kEntryFlagsKeptMask)));
      sample->LendPayload(data, length);
      HRESULT hr = WaitForWriter(m_written, kMaxSamplesInFlight, kMaxBytesInFlight);
      QUOR_RETURN_IF_FAILED(hr);
      if (hr == S_OK) hr = m_writer->Write(s.entry.m_trackId, sample.Get());
      if (hr == S_FALSE || FAILED(hr)) {
        WriterStateEnum state = wseCreated;
        QUOR_RETURN_IF_FAILED(WriterState(&state));
        if (state == wseStarted) return FAILED(hr) ? hr : E_UNEXPECTED;
        m_report.outputFull = true;
        m_writeLosses.push_back({m_members[s.member].file->path,
                                 s.entry.m_position,
                                 0,
                                 "the new fileset filled up before this sample",
                                 {},
                                 {}});
        continue;
      }
      ++m_written;
      m_writtenBytes.push_back(m_writtenBytes.back() + length);
      ++m_report.samplesPerTrack[s.entry.m_trackId];
      ++m_report.files[s.member].samples;
      m_report.payloadBytes += length;
      if (lastSample[s.member] == i) std::vector<BYTE>().swap(m_members[s.member].window);
    }
    return S_OK;
  }

  // Stops the writer and removes the member files it made, with what the report says of them.
  HRESULT DiscardOutput() {
    if (!m_writer) return S_OK;
    CQuorComPtr<IQuorMediaFileRecordingStatus> status;
    QUOR_RETURN_IF_FAILED(m_writer->GetRecordingStatus(status.AddressOf()));
    DWORD last = 0;
    QUOR_RETURN_IF_FAILED(status->GetCurrentFileIndex(&last));
    (void)m_writer->StopRecording();  // its files go whatever it says
    m_writer.Reset();
    const std::u16string target = QuorUtf8ToUtf16(m_target);
    for (DWORD k = 0; k <= last; ++k) {
      std::u16string name;
      QUOR_RETURN_IF_FAILED(QuorMemberFileName(target, k, &name));
      if (QuorPosixFileSystem().Unlink(QuorUtf16ToUtf8(name).c_str()) != 0 && errno != ENOENT) {
        return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
      }
    }
    m_report.samplesPerTrack.clear();
    m_report.payloadBytes = 0;
    m_report.outputFull = false;
    for (QuorSalvagedFile& file : m_report.files) file.samples = 0;
    m_writeLosses.clear();
    return S_OK;
  }

  HRESULT Describe() {
    const QuorCandidateFile* first = m_members.front().file;
    CQuorFileStorage storage;
    CQuorFileInfoBlock info;
    const std::u16string name = QuorUtf8ToUtf16(first->path);
    CQuorBstr original;
    if (SUCCEEDED(storage.OpenFileForInspection(name.c_str())) &&
        SUCCEEDED(storage.Seek(0, kQuorFileSignatureSize, soBegin)) &&
        SUCCEEDED(info.Read(storage.GetReader())) &&
        SUCCEEDED(info.GetDescription(original.AddressOf())) && original.Length() > 0) {
      m_report.sourceDescription = QuorUtf16ToUtf8(original.View());
    }
    m_report.description =
        "salvaged from fileset " + m_report.sourceGuid + " (" + BaseName(first->path) + ")";
    if (m_report.sourceDescription) m_report.description += ": " + *m_report.sourceDescription;
    CQuorBstr text = CQuorBstr::Copy(QuorUtf8ToUtf16(m_report.description));
    if (!text) return E_OUTOFMEMORY;
    return m_writer->SetDescription(text.Get());
  }

  QuorSalvageReport& m_report;
  std::vector<Member> m_members;
  Tracks m_tracks;
  std::vector<Sample> m_samples;
  std::string m_target;
  std::string m_password;
  ULONGLONG m_largestMember = 0;  // bytes
  CQuorComPtr<CQuorMediaFileWriter> m_writer;
  std::size_t m_writerTracks = 0;  // tracks the writer was given
  bool m_discarded = false;        // what was written went out of order
  ULONGLONG m_written = 0;
  std::vector<ULONGLONG> m_writtenBytes;       // payload bytes of the first n samples written, at n
  std::vector<QuorSalvageLoss> m_writeLosses;  // reported after every other loss
};

}  // namespace

HRESULT CQuorFileSetSalvage::Run(const std::string& source, const std::string& target,
                                 const std::string& password, QuorSalvageReport* report) {
  if (report == nullptr) return E_POINTER;
  *report = QuorSalvageReport{};
  try {
    return CSalvage(*report).Run(source, target, password);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const CLoggedException& e) {
    return e.Hr();
  }
}
