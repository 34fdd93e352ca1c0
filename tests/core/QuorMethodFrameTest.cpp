#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "core/QuorClassLoggers.h"
#include "core/QuorMethodFrame.h"
#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorErrorInfo.h"
#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// {0A1B2C3D-1111-2222-3333-444455556666}
constexpr CLSID kTestClsid = {
    0x0A1B2C3D, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
constexpr IID kTestIid = {
    0x0A1B2C3E, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

class QuorMethodFrameTest : public ::testing::Test {
 protected:
  void TearDown() override { (void)SetErrorInfo(0, nullptr); }

  QuorFrameInfo Info() const {
    return {QuorMediaFileReaderLogger(),
            "CQuorMediaFileReader::GetFileNames",
            this,
            kQuorReaderLogLevel,
            7,
            &kTestClsid,
            &kTestIid,
            "QuorMediaFiles.Reader.1"};
  }

  // The thread's error record, taken; null when none was set.
  struct Taken {
    bool present = false;
    GUID guid{};
    CQuorBstr source, description;
  };
  static Taken TakeErrorInfo() {
    Taken taken;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return taken;
    taken.present = true;
    (void)info->GetGUID(&taken.guid);  // fields default when a getter fails
    (void)info->GetSource(taken.source.AddressOf());
    (void)info->GetDescription(taken.description.AddressOf());
    info->Release();
    return taken;
  }

  std::shared_ptr<DXL_CaptureSink> m_capture = std::make_shared<DXL_CaptureSink>();
  DXL_ScopedSink m_sinkScope{m_capture};
};

TEST_F(QuorMethodFrameTest, LoggedExceptionIsLoggedSetAsErrorInfoAndReturned) {
  const HRESULT hr = QuorMethodFrame(
      Info(), [](DXL_FunctionLogger&) -> HRESULT { Raise(E_POINTER, kNullFileNamesOut); });
  EXPECT_EQ(hr, E_POINTER);
  const auto entries = m_capture->Entries();
  ASSERT_EQ(entries.size(), 1u);
  const auto& e = entries[0];
  EXPECT_EQ(std::tie(e.kind, e.hr, e.text, e.functionName, e.className, e.component, e.level,
                     e.objectValue),
            std::make_tuple(DXL_EntryKind::Error, E_POINTER, "Error - Null ppsaFileNames Passed",
                            "CQuorMediaFileReader::GetFileNames", "CQuorMediaFileReader",
                            "CQuorMediaFileLibrary", kQuorReaderLogLevel, 7u));
  Taken info = TakeErrorInfo();
  ASSERT_TRUE(info.present);
  EXPECT_EQ(
      std::make_tuple(info.guid, info.source.ToUtf8(), info.description.ToUtf8()),
      std::make_tuple(kTestIid, "QuorMediaFiles.Reader.1", "Error - Null ppsaFileNames Passed"));

  // The internal frame logs the same way and leaves error information alone.
  EXPECT_EQ(QuorInternalMethodFrame(Info(), []() -> HRESULT { Raise(E_POINTER, kQuorNoMessage); }),
            E_POINTER);
  EXPECT_EQ(m_capture->Entries().size(), 2u);
  EXPECT_FALSE(TakeErrorInfo().present);
}

TEST_F(QuorMethodFrameTest, ForeignExceptionBecomesUnexpectedWithoutDescription) {
  int bodyState = 0;
  const HRESULT hr = QuorMethodFrame(Info(), [&]() -> HRESULT {
    bodyState = 1;
    throw std::runtime_error("not ours");
  });
  EXPECT_EQ(hr, static_cast<HRESULT>(0x8000FFFFu));
  EXPECT_EQ(bodyState, 1);  // the frame leaves what the body did
  EXPECT_TRUE(m_capture->ContainsError(E_UNEXPECTED));
  EXPECT_EQ(m_capture->Entries().at(0).text, "");
  Taken info = TakeErrorInfo();
  ASSERT_TRUE(info.present);
  EXPECT_FALSE(info.description);

  // Without a sink nothing is formatted or kept, but the error information is still set.
  (void)DXL_Log::SetSink(nullptr);  // restored by the fixture's scope
  EXPECT_EQ(QuorMethodFrame(Info(), []() -> HRESULT { Raise(E_FAIL, kDuplicatedField, 1); }),
            E_FAIL);
  EXPECT_EQ(TakeErrorInfo().description.ToUtf8(), "Error Duplicated Field detected -Tag:1");
  EXPECT_EQ(m_capture->Entries().size(), 1u);
}

TEST_F(QuorMethodFrameTest, SuccessReturnsBodyResultAndLogsOnlyWhatBodyLogs) {
  const HRESULT hr = QuorMethodFrame(Info(), [](DXL_FunctionLogger& log) {
    QuorLogDebug(log, kReaderGetFileNamesSucceeded, 2, "a.qmf");
    return MFS_S_NEXT_FILE;
  });
  EXPECT_EQ(hr, MFS_S_NEXT_FILE);
  EXPECT_TRUE(m_capture->Contains(DXL_EntryKind::Debug, "file 1 of 2 is a.qmf"));
  EXPECT_EQ(m_capture->Entries().size(), 1u);
  EXPECT_FALSE(TakeErrorInfo().present);
}

TEST_F(QuorMethodFrameTest, InvalidParameterHandlerLogsOneEntryThroughTheLog) {
  QuorInvalidParameterHandler(nullptr, nullptr, nullptr, 0, 0);
  ASSERT_NE(DXL_Log::GetInstancePtr(), nullptr);
  const auto entries = m_capture->Entries();
  ASSERT_EQ(entries.size(), 1u);
  const auto& e = entries[0];
  EXPECT_EQ(std::tie(e.component, e.functionName, e.levelText, e.number, e.text),
            std::make_tuple("QuorMediaFiles", "QuorMFInvalidParameterHandler", "Error", 1, ""));
}

TEST_F(QuorMethodFrameTest, CaptureSinkTakesEntriesFromSeveralThreads) {
  auto work = [this] {
    for (int i = 0; i < 200; ++i) {
      (void)QuorInternalMethodFrame(Info(), [](DXL_FunctionLogger& log) {
        log.LogReleaseMessage("%i", 1);
        return S_OK;
      });
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(m_capture->Entries().size(), 400u);
}

}  // namespace
