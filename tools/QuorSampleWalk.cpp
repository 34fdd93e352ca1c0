#include "QuorSampleWalk.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

QuorSampleRecord QuorRecordOf(const quor::Sample& sample) {
  QuorSampleRecord record;
  record.timestamp = sample.timestamp();
  record.flags = sample.flags();
  const std::span<const std::byte> payload = sample.payload();
  record.payload = {reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()};
  return record;
}

void QuorLoadSampleCheck(const quor::Reader& reader, CQuorSampleCheck* check) {
  std::vector<std::string> names;
  for (quor::MemberFile& file : reader.info().files) names.push_back(std::move(file.name));
  if (const HRESULT hr = check->Load(names); FAILED(hr)) {
    throw quor::Error(hr, "CQuorSampleCheck::Load", "cannot check the sample blocks");
  }
}

void QuorForEachSample(const quor::Reader& reader, CQuorSampleCheck& check,
                       const QuorSampleRange& range,
                       const std::function<void(const QuorSampleRecord&)>& visit) {
  using Entry = CQuorSampleCheck::Entry;
  const std::uint32_t track = range.trackId;
  const std::uint64_t from = range.from.value_or(0);
  const std::uint64_t to = range.to.value_or(UINT64_MAX);
  // The track's index entries in the order they were recorded (by the fileset index of their
  // file, then by position), which is the order the reader steps in: the entry after the last
  // one met is the sample a failed step could not read. The check numbers the files as
  // QuorLoadSampleCheck gave them, in the reader's order.
  std::vector<std::uint32_t> filesetIndex;
  for (const quor::MemberFile& file : reader.info().files) {
    filesetIndex.push_back(file.filesetIndex.value_or(0));
  }
  const auto recorded = [&](const Entry* e) {
    return std::make_pair(e->file < filesetIndex.size() ? filesetIndex[e->file] : 0, e->position);
  };
  std::vector<const Entry*> stored;
  for (const Entry* e = check.LowerBound(track, 0); e; e = check.Next(track, e)) {
    stored.push_back(e);
  }
  std::sort(stored.begin(), stored.end(),
            [&](const Entry* a, const Entry* b) { return recorded(a) < recorded(b); });
  std::map<const Entry*, std::size_t> place;
  for (std::size_t i = 0; i < stored.size(); ++i) place[stored[i]] = i;
  std::map<std::uint64_t, std::size_t> seen;  // samples met so far per timestamp
  std::optional<std::size_t> last;            // place of the last entry met

  reader.forEachSample(track, from, to, [&](const quor::Sample* sample) {
    if (sample) {
      QuorSampleRecord record = QuorRecordOf(*sample);
      const Entry* entry = check.Find(track, record.timestamp, seen[record.timestamp]++);
      if (entry) last = place[entry];
      record.hashValid = entry == nullptr || check.IsIntact(*entry);
      visit(record);
      return;
    }
    // The first step lands where MoveTo(from) does: at the first entry from on, or before it.
    const Entry* entry = nullptr;
    if (last) {
      if (*last + 1 < stored.size()) entry = stored[*last + 1];
    } else {
      entry = check.LowerBound(track, from);
    }
    QuorSampleRecord unreadable;
    unreadable.hashValid = false;
    unreadable.readable = false;
    if (entry) {
      last = place[entry];
      ++seen[entry->timestamp];
      unreadable.timestamp = entry->timestamp;
      if (entry->timestamp < from || entry->timestamp > to) return;
    }
    visit(unreadable);
  });
}
