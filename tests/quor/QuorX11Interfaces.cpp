// The object interfaces beside X11's types (<X11/Xmd.h> defines BOOL as an unsigned char and
// BYTE as the same type as ours): that this file compiles is the test.
#if __has_include(<X11/Xmd.h>)
#include <X11/Xmd.h>
#endif

#include "quormediafiles/QuorMediaFilesCpp.h"

static_assert(sizeof(IQuorMediaFileReader*) == sizeof(void*));
