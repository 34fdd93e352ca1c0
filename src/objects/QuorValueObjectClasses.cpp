// The class table entries of the value objects. The writer and the reader register their
// coclasses the same way next to their own classes.
#include "objects/QuorFileSetMetadata.h"
#include "objects/QuorMediaFileSample.h"
#include "objects/QuorMediaFileStatus.h"
#include "objects/QuorTrackMetadata.h"
#include "platform/com/QuorClassRegistry.h"
#include "platform/com/QuorUnknownImpl.h"

QUOR_OBJECT_ENTRY_AUTO(CLSID_QuorFileSetMetadata, CQuorFileSetMetadata, u"QuorFileSetMetadata")
QUOR_OBJECT_ENTRY_AUTO(CLSID_QuorTrackMetadata, CQuorTrackMetadata, u"QuorTrackMetadata")
QUOR_OBJECT_ENTRY_AUTO(CLSID_QuorMediaFileSample, CQuorMediaFileSample, u"QuorMediaFileSample")
QUOR_OBJECT_ENTRY_AUTO(CLSID_QuorMediaFileStatus, CQuorMediaFileStatus, u"QuorMediaFileStatus")
