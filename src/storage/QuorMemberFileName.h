// The names of the member files of a fileset. A name splits at its last '/' into the directory
// part (up to and including that '/', empty without one) and the file part, and the file part
// at its last dot into the base name and the extension (from the dot to the end, dot included).
// Member 0 is the given name itself; member k > 0 is directory + base name + k in decimal +
// extension: /rec/cam.vid, /rec/cam1.vid, /rec/cam2.vid, ...
#pragma once

#include <string>
#include <string_view>

#include "quormediafiles/platform/QuorTypes.h"

struct QuorFileNameParts {
  std::u16string directory;
  std::u16string baseName;
  std::u16string extension;
};

// E_INVALIDARG when the file part has no dot. A file part that ends in its last dot has the
// extension "." here; recording refuses that (QuorMemberFileName), playback accepts it.
// E_OUTOFMEMORY when the copies cannot be made.
[[nodiscard]] HRESULT QuorSplitFileName(std::u16string_view name, QuorFileNameParts* parts);

// The name of member file k of the fileset recorded from name. E_INVALIDARG when the file part
// has no extension, or only a trailing dot.
[[nodiscard]] HRESULT QuorMemberFileName(std::u16string_view name, DWORD k, std::u16string* member);
