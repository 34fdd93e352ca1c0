// How quormf shows a fileset diagnosis (every file beside the named one and what it is) and
// how it opens a fileset so that a failure names the file and what is wrong with it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/quor.hpp"
#include "salvage/QuorFileSetDiagnosis.h"
#include "salvage/QuorFileSetSalvage.h"

// The diagnosis of path's directory; an empty one when the directory cannot be listed.
CQuorFileSetDiagnosis QuorDiagnose(const std::string& path);

// Opens the fileset of path; a failure (std::runtime_error) says in words what is wrong and names
// the file, then the result code by name; for damage (never for a missing or wrong password) it
// suggests a member that reads, and quormf salvage.
quor::Reader QuorOpenReader(const std::string& path, const std::string& password,
                            const CQuorFileSetDiagnosis& diagnosis);
// The same for a reader object (QuorOpenFileSet), for what only the objects give.
CQuorComPtr<IQuorMediaFileReader> QuorOpenExplained(const std::string& path,
                                                    const std::string& password,
                                                    const CQuorFileSetDiagnosis& diagnosis);

nlohmann::ordered_json QuorToJson(const CQuorFileSetDiagnosis& diagnosis);
// The "directory" section of info and verify: every candidate, members not reached and why,
// missing fileset indexes. Prints nothing for a diagnosis without files.
void QuorPrintDiagnosis(const CQuorFileSetDiagnosis& diagnosis);

nlohmann::ordered_json QuorToJson(const QuorSalvageReport& report);
