#include <functional>
#include <optional>

#include "format/QuorBlockBatch.h"
#include "format/QuorBlockFactory.h"
#include "format/QuorBlockFixture.h"
#include "format/QuorMediaSampleBlock.h"
#include "support/QuorGot.h"

class QuorBlockBatchTest : public QuorBlockFixture {
 protected:
  // Five sample blocks of different lengths (one over a padding edge, one over 64 KiB).
  static std::vector<Bytes> Blocks() {
    std::vector<Bytes> blocks;
    for (const std::size_t length : {1, 7, 0x37, 0x10000 + 3, 200}) {
      blocks.push_back(MakeBlock(btMediaSample, {{kTagPayload, Bytes(length, 0x5A)}},
                                 static_cast<DWORD>(blocks.size())));
    }
    return blocks;
  }

  // Fills batch from the start of bytes, which m_source then reads.
  HRESULT Fill(CQuorBlockBatch& batch, const Bytes& bytes) {
    m_source.emplace(bytes);
    return batch.Fill(&*m_source);
  }

  std::optional<CQuorMemorySource> m_source;
};

// Damage to the third block: the batch ends before a block whose framing fails, with the code a
// block-by-block walk meets there; a block it holds parses from memory with the result and hash
// verdict that a block-by-block read of the same bytes gives.
TEST_F(QuorBlockBatchTest, BatchedBlocksReadAsBlockByBlockReadsDo) {
  const HRESULT kEof = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  // Name, the damage to the third block, the blocks the batch holds, the code it ends with.
  const std::tuple<const char*, std::function<void(Bytes&)>, std::size_t, HRESULT> kDamage[] = {
      {"Nothing", [](Bytes&) {}, 5, kEof},
      {"PayloadByte", [](Bytes& b) { FlipByte(b, 20); }, 5, kEof},
      {"StoredHash", [](Bytes& b) { FlipByte(b, b.size() - 1); }, 5, kEof},
      {"SizeFieldValue", [](Bytes& b) { FlipByte(b, b.size() - 28); }, 5, kEof},
      {"LastFieldRunsPastTheEnd", [](Bytes& b) { EncodeU32(b.data() + b.size() - 20, 17); }, 5,
       kEof},
      {"TypeWord0x600", [](Bytes& b) { b[1] = 0x06; }, 2, MFS_E_BAD_FORMAT},
      {"SizeWordBelow48", [](Bytes& b) { EncodeU32(b.data() + 4, 47); }, 2, E_FAIL},
      {"SizeWordHuge", [](Bytes& b) { EncodeU32(b.data() + 4, 0xFFFFFFF0); }, 2, kEof},
      {"OnlyTheType", [](Bytes& b) { b.resize(4); }, 2, kEof},
  };
  for (const auto& [name, apply, count, end] : kDamage) {
    SCOPED_TRACE(name);
    std::vector<Bytes> blocks = Blocks();
    apply(blocks[2]);
    if (count == 2) blocks.resize(3);  // nothing can be found after broken framing
    Bytes file;
    for (const Bytes& block : blocks) Append(file, block);
    CQuorBlockBatch batch;
    ASSERT_EQ(Fill(batch, file), S_OK);
    ASSERT_EQ(batch.GetCount(), count);
    EXPECT_EQ(batch.GetEnd(), end);
    for (std::size_t i = 0; i < batch.GetCount(); ++i) {
      SCOPED_TRACE(i);
      const Bytes& bytes = blocks[i];
      const BYTE* held = batch.GetBlock(i);
      ASSERT_EQ(Bytes(held, held + bytes.size()), bytes);
      EXPECT_EQ(Bytes(batch.GetDigest(i), batch.GetDigest(i) + kHashSize),
                Digest(bytes.data(), bytes.size() - kUnhashedTailSize));
      std::unique_ptr<CQuorMediaFileBlock> fromFile = QuorNewBlockOfType(btMediaSample);
      std::unique_ptr<CQuorMediaFileBlock> fromBatch = QuorNewBlockOfType(btMediaSample);
      EXPECT_EQ(fromBatch->ReadFrom(held, batch.GetDigest(i)), ReadBlock(*fromFile, bytes));
      EXPECT_EQ(fromBatch->IsHashValid(), fromFile->IsHashValid());
    }
  }
}

TEST_F(QuorBlockBatchTest, FillsStopAtTheBlockLimitAndGoOnWhereTheyStopped) {
  Bytes file;
  const std::size_t total = CQuorBlockBatch::kMaxBlocks + 3;
  for (std::size_t i = 0; i < total; ++i) {
    Append(file,
           MakeBlock(btMediaSample, {{kTagPayload, Bytes(1 + i % 90, 1)}}, static_cast<DWORD>(i)));
  }
  CQuorBlockBatch batch;
  ASSERT_EQ(Fill(batch, file), S_OK);
  EXPECT_EQ(batch.GetCount(), CQuorBlockBatch::kMaxBlocks);
  EXPECT_EQ(batch.GetEnd(), S_OK);
  ASSERT_EQ(batch.Fill(&*m_source), S_OK);
  ASSERT_EQ(batch.GetCount(), 3u);
  EXPECT_EQ(batch.GetEnd(), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
  CQuorMediaSampleBlock last;
  ASSERT_EQ(last.ReadFrom(batch.GetBlock(2), batch.GetDigest(2)), S_OK);
  EXPECT_EQ(Got(&last, &CQuorMediaSampleBlock::GetBlockIndex), total - 1);
  EXPECT_TRUE(last.IsHashValid());
}
