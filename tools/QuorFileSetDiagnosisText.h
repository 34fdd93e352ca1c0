// How quormf shows a fileset diagnosis (every file beside the named one and what it is) and
// how it opens a fileset so that a failure names the file and what is wrong with it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "quormediafiles/QuorMediaFilesCpp.h"
#include "salvage/QuorFileSetDiagnosis.h"
#include "salvage/QuorFileSetSalvage.h"

// The diagnosis of path's directory; an empty one when the directory cannot be listed.
CQuorFileSetDiagnosis QuorDiagnose(const std::string& path);

// QuorOpenFileSet, whose failure (std::runtime_error) names the file, says what the diagnosis
// found wrong with it, and suggests a member that reads.
CQuorComPtr<IQuorMediaFileReader> QuorOpenExplained(const std::string& path,
                                                    const std::string& password,
                                                    const CQuorFileSetDiagnosis& diagnosis);

nlohmann::ordered_json QuorToJson(const CQuorFileSetDiagnosis& diagnosis);
// The "directory" section of info and verify: every candidate, members not reached and why,
// missing fileset indexes. Prints nothing for a diagnosis without files.
void QuorPrintDiagnosis(const CQuorFileSetDiagnosis& diagnosis);

nlohmann::ordered_json QuorToJson(const QuorSalvageReport& report);
