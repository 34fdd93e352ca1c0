#include <functional>

#include "QuorBlockFixture.h"
#include "format/QuorForwardBlockWalker.h"

namespace {

class QuorForwardBlockWalkerTest : public QuorBlockFixture {
 protected:
  // Signature, three media sample blocks (indexes 0 to 2) and a finalization block (index 3)
  // with the right file hash; m_starts holds each block's offset.
  Bytes MakeFile() {
    const auto signature = QuorFileSignatureBytes();
    Bytes file(signature.begin(), signature.end());
    Bytes hashes;
    m_starts.clear();
    for (DWORD i = 0; i < 3; ++i) {
      const Bytes block = MakeBlock(btMediaSample, {{kTagPayload, Bytes(100 + i, BYTE(i))}}, i);
      m_starts.push_back(file.size());
      hashes.insert(hashes.end(), block.end() - kHashSize, block.end());
      Append(file, block);
    }
    m_starts.push_back(file.size());
    Append(file, MakeBlock(btFinalization,
                           {{kTagLastFileFlag, U32(1)},
                            {kTagFileHash, Digest(hashes.data(), hashes.size())}},
                           3));
    return file;
  }

  QuorForwardWalk Walk(const Bytes& file, std::vector<QuorWalkedBlock>* blocks,
                       bool readSampleBodies = true) {
    CQuorMemorySource source(file);
    QuorForwardWalk walk;
    EXPECT_EQ(CQuorForwardBlockWalker::Walk(
                  source,
                  [&](const QuorWalkedBlock& b) {
                    blocks->push_back(b);
                    blocks->back().block = nullptr;
                    return S_OK;
                  },
                  &walk, readSampleBodies),
              S_OK);
    return walk;
  }

  std::vector<std::size_t> m_starts;
};

TEST_F(QuorForwardBlockWalkerTest, WalksPastBrokenFramingToTheNextBlock) {
  struct Damage {
    const char* name;
    std::function<void(Bytes&, const std::vector<std::size_t>&)> apply;
    std::vector<DWORD> indexes;  // of the blocks handed over
    std::size_t skippedAt;       // offset of the skipped bytes; 0: none
    bool hashValid;              // of every block handed over
    bool cleanEnd;
  };
  const Damage kDamage[] = {
      {"Intact", [](Bytes&, auto&) {}, {0, 1, 2, 3}, 0, true, true},
      {"PayloadByte",
       [](Bytes& f, auto& s) { FlipByte(f, s[1] + 20); },
       {0, 1, 2, 3},
       0,
       false,
       true},
      {"SizeWord", [](Bytes& f, auto& s) { FlipByte(f, s[1] + 4); }, {0, 2, 3}, 1, true, false},
      {"TypeWord", [](Bytes& f, auto& s) { f[s[1] + 1] = 6; }, {0, 2, 3}, 1, true, false},
      {"SizeField",
       [](Bytes& f, auto& s) { FlipByte(f, s[2] - 36 + 8); },
       {0, 2, 3},
       1,
       true,
       false},
  };
  for (const Damage& d : kDamage) {
    SCOPED_TRACE(d.name);
    Bytes file = MakeFile();
    d.apply(file, m_starts);
    std::vector<QuorWalkedBlock> blocks;
    const QuorForwardWalk walk = Walk(file, &blocks);
    EXPECT_TRUE(walk.signatureValid);
    ASSERT_EQ(blocks.size(), d.indexes.size());
    bool allValid = true;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].blockIndex, d.indexes[i]);
      EXPECT_EQ(blocks[i].offset, m_starts[d.indexes[i]]);
      allValid = allValid && blocks[i].hashValid;
    }
    EXPECT_EQ(allValid, d.hashValid);
    EXPECT_EQ(walk.cleanEnd, d.cleanEnd);
    // The file hash chains the stored block hashes, so only a lost block breaks it.
    EXPECT_EQ(blocks.back().fileHashValid, d.skippedAt == 0);
    if (d.skippedAt == 0) {
      EXPECT_TRUE(walk.skipped.empty());
    } else {
      ASSERT_EQ(walk.skipped.size(), 1u);
      EXPECT_EQ(walk.skipped[0].offset, m_starts[d.skippedAt]);
      EXPECT_EQ(walk.skipped[0].length, m_starts[d.skippedAt + 1] - m_starts[d.skippedAt]);
      EXPECT_FALSE(blocks[1].indexInSequence);
    }
  }
}

TEST_F(QuorForwardBlockWalkerTest, EndsAtACutBlockAndWithoutASignature) {
  Bytes file = MakeFile();
  TruncateBy(file, 10);
  std::vector<QuorWalkedBlock> blocks;
  QuorForwardWalk walk = Walk(file, &blocks);
  EXPECT_EQ(blocks.size(), 3u);
  EXPECT_EQ(walk.end, "finalization block runs past the end of the file");
  EXPECT_EQ(walk.endOffset, m_starts[3]);
  EXPECT_FALSE(walk.cleanEnd);

  blocks.clear();
  walk = Walk(Bytes(10, 0), &blocks);
  EXPECT_FALSE(walk.signatureValid);
  EXPECT_TRUE(blocks.empty());
}

TEST_F(QuorForwardBlockWalkerTest, WalksBlocksAfterTheFinalizationBlockOutsideTheFileHash) {
  // A file's blocks written twice over: the first finalization block closes the file hash.
  const Bytes once = MakeFile();
  Bytes twice = once;
  twice.insert(twice.end(), once.begin() + kQuorFileSignatureSize, once.end());
  for (const bool readSampleBodies : {true, false}) {
    SCOPED_TRACE(readSampleBodies);
    std::vector<QuorWalkedBlock> blocks;
    const QuorForwardWalk walk = Walk(twice, &blocks, readSampleBodies);
    ASSERT_EQ(blocks.size(), 8u);
    EXPECT_EQ(blocks[3].fileHashValid, readSampleBodies ? std::optional(true) : std::nullopt);
    EXPECT_EQ(blocks[7].fileHashValid, std::nullopt);
    EXPECT_EQ(walk.end, "data after the finalization block");
    EXPECT_FALSE(walk.cleanEnd);
  }
}

}  // namespace
