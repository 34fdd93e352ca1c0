#include "salvage/QuorSampleCheck.h"

#include <algorithm>

#include "core/LoggedException.h"
#include "format/QuorForwardBlockWalker.h"
#include "format/QuorIndexBlock.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "storage/QuorFileStorage.h"

CQuorSampleCheck::CQuorSampleCheck() = default;
CQuorSampleCheck::~CQuorSampleCheck() = default;

HRESULT CQuorSampleCheck::Load(const std::vector<std::string>& files) {
  m_files.clear();
  m_entries.clear();
  for (const std::string& name : files) {
    auto storage = std::make_unique<CQuorFileStorage>();
    const std::u16string wide = QuorUtf8ToUtf16(name);
    const std::size_t file = m_files.size();
    if (SUCCEEDED(storage->OpenFileForInspection(wide.c_str()))) {
      QuorForwardWalk walk;
      const HRESULT hr = CQuorForwardBlockWalker::Walk(
          *storage->GetReader(),
          [&](const QuorWalkedBlock& b) -> HRESULT {
            if (b.type != btIndex) return S_OK;
            auto& index = static_cast<CQuorIndexBlock&>(*b.block);
            std::vector<DWORD> ids;
            QUOR_RETURN_IF_FAILED(index.GetTrackIds(&ids));
            for (DWORD id : ids) {
              std::vector<CQuorMediaSampleIndex> entries;
              if (FAILED(index.GetIndexes(id, &entries))) continue;
              for (const CQuorMediaSampleIndex& e : entries) {
                m_entries[id].push_back({e.m_timestamp, file, e.m_position});
              }
            }
            return S_OK;
          },
          &walk, false);
      QUOR_RETURN_IF_FAILED(hr);
    }
    m_files.push_back(std::move(storage));
  }
  for (auto& [id, entries] : m_entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.timestamp < b.timestamp; });
  }
  return S_OK;
}

const CQuorSampleCheck::Entry* CQuorSampleCheck::LowerBound(DWORD trackId,
                                                            ULONGLONG timestamp) const {
  const auto track = m_entries.find(trackId);
  if (track == m_entries.end()) return nullptr;
  const std::vector<Entry>& entries = track->second;
  const auto it = std::lower_bound(entries.begin(), entries.end(), timestamp,
                                   [](const Entry& e, ULONGLONG t) { return e.timestamp < t; });
  return it == entries.end() ? nullptr : &*it;
}

const CQuorSampleCheck::Entry* CQuorSampleCheck::Find(DWORD trackId, ULONGLONG timestamp,
                                                      std::size_t occurrence) const {
  for (const Entry* e = LowerBound(trackId, timestamp); e && e->timestamp == timestamp;
       e = Next(trackId, e)) {
    if (occurrence-- == 0) return e;
  }
  return nullptr;
}

const CQuorSampleCheck::Entry* CQuorSampleCheck::Next(DWORD trackId, const Entry* entry) const {
  const auto track = m_entries.find(trackId);
  if (track == m_entries.end() || entry == nullptr) return nullptr;
  const std::vector<Entry>& entries = track->second;
  const std::size_t next = static_cast<std::size_t>(entry - entries.data()) + 1;
  return next < entries.size() ? &entries[next] : nullptr;
}

bool CQuorSampleCheck::IsIntact(const Entry& entry) {
  CQuorFileStorage& storage = *m_files.at(entry.file);
  return SUCCEEDED(storage.Seek(0, static_cast<LONGLONG>(entry.position), soBegin)) &&
         SUCCEEDED(m_block.Read(storage.GetReader())) && m_block.IsHashValid();
}
