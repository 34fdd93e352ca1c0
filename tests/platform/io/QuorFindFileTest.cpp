#include <gtest/gtest.h>

#include "platform/io/QuorFindFile.h"
#include "platform/io/QuorLastError.h"
#include "support/QuorTempDir.h"

namespace {

class QuorFindFileTest : public ::testing::Test {
 protected:
  std::vector<std::string> FindAll(const std::string& pattern) {
    std::vector<std::string> found;
    CQuorFindFile search;
    std::string name;
    if (!search.FindFirst(pattern, &name)) return found;
    do {
      found.push_back(name);
    } while (search.FindNext(&name));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    return found;
  }

  CQuorTempDir m_dir;
};

TEST_F(QuorFindFileTest, MatchesComeInByteOrderWithTheExactSuffix) {
  for (const char* name : {"cam2.vid", "cam.vid", "Cam1.vid", "cam10.vid", "cam.VID", "x.vidx"}) {
    m_dir.WriteBytes(name, {});
  }
  m_dir.MakeDirectory("sub.vid");
  EXPECT_EQ(FindAll(m_dir.Path("*.vid")),
            (std::vector<std::string>{"Cam1.vid", "cam.vid", "cam10.vid", "cam2.vid", "sub.vid"}));
}

TEST_F(QuorFindFileTest, EmptySearchesReportWhatWasMissing) {
  m_dir.WriteBytes("a.bin", {});
  CQuorFindFile search;
  std::string name;
  EXPECT_FALSE(search.FindFirst(m_dir.Path("*.vid"), &name));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(search.FindFirst(m_dir.Path("nowhere/*.vid"), &name));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(search.FindFirst(m_dir.Path("a*.bin"), &name));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

}  // namespace
