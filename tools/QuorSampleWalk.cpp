#include "QuorSampleWalk.h"

#include <algorithm>
#include <map>

#include "QuorFileSetReport.h"
#include "quormediafiles/QuorMediaFilesCpp.h"

QuorSampleRecord QuorReadSample(IQuorMediaFileSample* sample) {
  QuorSampleRecord record;
  QuorCheck(sample->GetTimestamp(&record.timestamp), "GetTimestamp");
  VARIANT_BOOL key = VARIANT_FALSE, video = VARIANT_FALSE, audio = VARIANT_FALSE;
  QuorCheck(sample->GetFlags(&key, &video, &audio), "GetFlags");
  record.keyFrame = QuorIsTrue(key);
  record.video = QuorIsTrue(video);
  record.audio = QuorIsTrue(audio);
  CQuorSafeArray payload;
  const HRESULT hr = sample->GetPayloadData(payload.AddressOf());
  if (hr != MFS_E_NO_VALUE) QuorCheck(hr, "GetPayloadData");
  record.payload = QuorBytes(payload.Get());
  return record;
}

void QuorLoadSampleCheck(IQuorMediaFileReader* reader, CQuorSampleCheck* check) {
  std::vector<std::string> names;
  for (const QuorMemberFileReport& file : QuorReportFiles(reader)) names.push_back(file.name);
  QuorCheck(check->Load(names), "checking the sample blocks");
}

void QuorForEachSample(IQuorMediaFileReader* reader, CQuorSampleCheck& check,
                       const QuorSampleRange& range,
                       const std::function<void(const QuorSampleRecord&)>& visit) {
  const ULONG track = range.trackId;
  ULONGLONG first = 0;
  ULONGLONG last = 0;
  const HRESULT firstResult = reader->GetFirstTimeStamp(track, &first);
  if (firstResult == MFS_E_NO_VALUE) {
    (void)QuorTakeErrorDescription();  // (void): a track without samples lists nothing
    return;
  }
  QuorCheck(firstResult, "GetFirstTimeStamp");
  QuorCheck(reader->GetLastTimeStamp(track, &last), "GetLastTimeStamp");
  const ULONGLONG from = std::max(first, range.from.value_or(first));
  const ULONGLONG to = range.to.value_or(last);
  if (from > to || from > last) return;

  using Entry = CQuorSampleCheck::Entry;
  std::map<ULONGLONG, std::size_t> seen;  // samples read so far per timestamp
  const Entry* entry = nullptr;           // of the last sample read
  const Entry* lastBad = nullptr;         // of the last sample the reader could not read
  const Entry* highest = nullptr;         // the furthest entry visited
  CQuorComPtr<IQuorMediaFileSample> sample;
  HRESULT hr = reader->MoveTo(track, from, sample.AddressOf());
  for (;;) {
    if (hr == MFS_E_NO_VALUE) {
      (void)QuorTakeErrorDescription();  // (void): the end of the track
      return;
    }
    if (FAILED(hr)) {
      // The reader failed on the next sample: report it, then move to the one after it. Each
      // failure moves lastBad on, so the walk ends.
      (void)QuorTakeErrorDescription();  // (void): reported as an unreadable sample
      const Entry* bad = entry ? check.Next(track, entry) : check.LowerBound(track, from);
      if (bad && lastBad && bad <= lastBad) bad = check.Next(track, lastBad);
      if (!bad || bad->timestamp > to) return;
      lastBad = bad;
      if (bad->timestamp >= from && (!highest || bad > highest)) {
        QuorSampleRecord unreadable;
        unreadable.timestamp = bad->timestamp;
        unreadable.hashValid = false;
        unreadable.readable = false;
        highest = bad;
        visit(unreadable);
      }
      const Entry* after = check.Next(track, bad);
      if (!after) return;
      entry = bad;
      hr = reader->MoveTo(track, after->timestamp, sample.AddressOf());
      continue;
    }
    QuorSampleRecord record = QuorReadSample(sample.Get());
    entry = check.Find(track, record.timestamp, seen[record.timestamp]++);
    if (record.timestamp > to) return;
    if (record.timestamp >= from && (!entry || !highest || entry > highest)) {
      record.hashValid = entry == nullptr || check.IsIntact(*entry);
      if (entry) highest = entry;
      visit(record);
    }
    hr = reader->MoveNext(track, sample.AddressOf());
  }
}
