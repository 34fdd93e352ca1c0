#include "format/QuorBlockFactory.h"

#include "format/QuorFileFinalizationBlock.h"
#include "format/QuorFileInfoBlock.h"
#include "format/QuorIndexBlock.h"
#include "format/QuorMediaSampleBlock.h"
#include "format/QuorTrackInfoBlock.h"

std::unique_ptr<CQuorMediaFileBlock> QuorNewBlockOfType(DWORD type) {
  switch (type) {
    case btFileInfo:
      return std::make_unique<CQuorFileInfoBlock>();
    case btTrackInfo:
      return std::make_unique<CQuorTrackInfoBlock>();
    case btIndex:
      return std::make_unique<CQuorIndexBlock>();
    case btMediaSample:
      return std::make_unique<CQuorMediaSampleBlock>();
    case btFinalization:
      return std::make_unique<CQuorFileFinalizationBlock>();
    default:
      return nullptr;
  }
}
