// A client of the component server that does not link the library: it registers the built
// shared module, creates its objects by program identifier and class identifier through the
// class registry, and calls every method late bound (GetIDsOfNames + Invoke).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/QuorInprocServerTable.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "support/QuorTempDir.h"

#ifndef QUOR_SERVER_PATH
#error "QUOR_SERVER_PATH names the built shared module"
#endif

namespace {

constexpr char kServerPath[] = QUOR_SERVER_PATH;

bool IsMapped() {
  void* handle = ::dlopen(kServerPath, RTLD_NOW | RTLD_NOLOAD);
  if (handle) ::dlclose(handle);  // RTLD_NOLOAD counted one more reference
  return handle != nullptr;
}

// Calls one of the module's entry points on a library loaded for the call.
HRESULT CallExport(const char* name) {
  void* handle = ::dlopen(kServerPath, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(handle, nullptr) << ::dlerror();
  if (!handle) return E_FAIL;
  auto entry = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, name));
  const HRESULT hr = entry ? entry() : E_FAIL;
  ::dlclose(handle);
  return hr;
}

// A VARIANT that frees what it holds.
struct CVar {
  VARIANT v;
  CVar() { VariantInit(&v); }
  CVar(const CVar&) = delete;
  CVar& operator=(const CVar&) = delete;
  ~CVar() { (void)VariantClear(&v); }  // VT_EMPTY or a type this test made

  ULONG U4() const { return v.vt == VT_UI4 ? v.ulVal : ~0u; }
  ULONGLONG U8() const { return v.vt == VT_UI8 ? v.ullVal : ~0ull; }
  bool Bool() const { return v.vt == VT_BOOL && v.boolVal == VARIANT_TRUE; }
  std::string Str() const { return v.vt == VT_BSTR ? QuorBstrToUtf8(v.bstrVal) : "<not a string>"; }
  IDispatch* Disp() const { return v.vt == VT_DISPATCH ? v.pdispVal : nullptr; }
  SAFEARRAY* Array() const { return (v.vt & VT_ARRAY) ? v.parray : nullptr; }
};

VARIANT Str(const char* text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = QuorBstrFromUtf8(text);
  return v;
}
VARIANT U4(ULONG value) {
  VARIANT v;
  v.vt = VT_UI4;
  v.ulVal = value;
  return v;
}
VARIANT U8(ULONGLONG value) {
  VARIANT v;
  v.vt = VT_UI8;
  v.ullVal = value;
  return v;
}
VARIANT Bool(bool value) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT Disp(IDispatch* object) {
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = object;
  object->AddRef();
  return v;
}
VARIANT ByteArray(const std::vector<BYTE>& bytes) {
  VARIANT v;
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
  return v;
}
// An out-parameter: the method writes into *target.
VARIANT Out(CVar* target) {
  VARIANT v;
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = &target->v;
  return v;
}

// Calls method `name` of object with args (first parameter first) and stores its [out,retval]
// in *result. Returns the method's HRESULT (the one inside DISP_E_EXCEPTION when it failed).
HRESULT Invoke(IDispatch* object, const char16_t* name, std::vector<VARIANT> args,
               CVar* result = nullptr) {
  DISPID dispid = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid);
  if (FAILED(hr)) {
    for (VARIANT& a : args) (void)VariantClear(&a);  // arguments this test made
    return hr;
  }
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO excep{};
  UINT argErr = 0;
  CVar ignored;
  hr = object->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params,
                      result ? &result->v : &ignored.v, &excep, &argErr);
  for (VARIANT& a : reversed) (void)VariantClear(&a);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return hr == DISP_E_EXCEPTION ? excep.scode : hr;
}

// A new object of a program identifier, as IDispatch.
CQuorComPtr<IDispatch> CreateByProgId(const char16_t* progId) {
  CLSID clsid = GUID_NULL;
  EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
  CQuorComPtr<IDispatch> object;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(object.AddressOf())),
            S_OK);
  return object;
}

std::vector<BYTE> Payload(ULONG track, ULONG index) {
  std::vector<BYTE> bytes(1000 + 37 * index);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * track + index);
  return bytes;
}

class QuorClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QUOR_REGISTRY_FILE", m_dir.Path("registry").c_str(), 1);
    ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    EXPECT_EQ(CallExport("DllUnregisterServer"), S_OK);
    const Bytes bytes = m_dir.ReadBytes("registry");
    const std::string text(bytes.begin(), bytes.end());
    for (const char* mark : {"QuorMediaFiles", "279ADA38", "0A1FD3C2", "6EFDDF73", "3435DDB1",
                             "5796CE59", "F2E9FDBC", "0A3183DC", "DD0F0965", kServerPath}) {
      EXPECT_EQ(text.find(mark), std::string::npos) << mark << " left in\n" << text;
    }
    ::unsetenv("QUOR_REGISTRY_FILE");
  }

  // Records a small two-track fileset and plays it back, calling every method late bound.
  void RecordAndPlayBack();

  CQuorTempDir m_dir;
};

// Runs body on a thread of its own.
template <class TBody>
void OnOwnThread(TBody body) {
  std::thread thread(body);
  thread.join();
}

TEST_F(QuorClientTest, RecordsAndPlaysBackATwoTrackFilesetLateBound) {
  OnOwnThread([this] { RecordAndPlayBack(); });
}

void QuorClientTest::RecordAndPlayBack() {
  constexpr ULONG kSamplesPerTrack = 24;
  const std::string path = m_dir.Path("rec.qmf");

  CQuorComPtr<IDispatch> writer = CreateByProgId(u"QuorMediaFiles.QuorMediaFileWriter");
  ASSERT_NE(writer.Get(), nullptr);
  ASSERT_EQ(Invoke(writer.Get(), u"Initialize", {Str(path.c_str()), U4(64), U4(8), Bool(true)}),
            S_OK);
  ASSERT_EQ(Invoke(writer.Get(), u"SetDescription", {Str("two tracks")}), S_OK);
  ASSERT_EQ(Invoke(writer.Get(), u"SetPassword", {Str("secret")}), S_OK);
  for (ULONG id : {1u, 2u}) {
    CQuorComPtr<IDispatch> track = CreateByProgId(u"QuorMediaFiles.QuorTrackMetadata.1");
    ASSERT_EQ(Invoke(track.Get(), u"SetTrackId", {U4(id)}), S_OK);
    ASSERT_EQ(Invoke(track.Get(), u"SetTrackName", {Str(id == 1 ? "video" : "audio")}), S_OK);
    ASSERT_EQ(Invoke(track.Get(), u"SetVideoFlag", {Bool(id == 1)}), S_OK);
    ASSERT_EQ(Invoke(track.Get(), u"SetAudioFlag", {Bool(id == 2)}), S_OK);
    ASSERT_EQ(Invoke(track.Get(), u"SetSourceId", {U4(100 + id)}), S_OK);
    ASSERT_EQ(Invoke(track.Get(), u"SetSourceUrl", {Str("rtsp://camera/1")}), S_OK);
    ASSERT_EQ(Invoke(track.Get(), u"SetPairId", {U4(7)}), S_OK);
    ASSERT_EQ(Invoke(writer.Get(), u"AddTrack", {Disp(track.Get())}), S_OK);
  }
  ASSERT_EQ(Invoke(writer.Get(), u"StartRecording", {}), S_OK);

  ULONGLONG payloadBytes = 0;
  for (ULONG i = 0; i < kSamplesPerTrack; ++i) {
    for (ULONG id : {1u, 2u}) {
      CQuorComPtr<IDispatch> sample = CreateByProgId(u"QuorMediaFiles.QuorMediaFileSample");
      ASSERT_EQ(Invoke(sample.Get(), u"SetTimestamp", {U8(1000 * i + id)}), S_OK);
      ASSERT_EQ(Invoke(sample.Get(), u"SetFlags", {Bool(i % 8 == 0), Bool(id == 1), Bool(id == 2)}),
                S_OK);
      ASSERT_EQ(Invoke(sample.Get(), u"SetPayloadData", {ByteArray(Payload(id, i))}), S_OK);
      const ULONG flags = (i % 8 == 0 ? 0x01u : 0x08u) | (id == 1 ? 0x02u : 0x04u);
      ASSERT_EQ(Invoke(sample.Get(), u"SetSampleFlags", {U4(flags)}), S_OK);
      const HRESULT hr = Invoke(writer.Get(), u"Write", {U4(id), Disp(sample.Get())});
      ASSERT_TRUE(hr == S_OK || hr == MFS_S_NEXT_FILE) << std::hex << hr;
      payloadBytes += Payload(id, i).size();
    }
  }

  // Write only queues; wait until the worker wrote every payload.
  CVar status;
  for (;;) {
    (void)VariantClear(&status.v);  // the previous snapshot
    ASSERT_EQ(Invoke(writer.Get(), u"GetRecordingStatus", {}, &status), S_OK);
    CVar total;
    ASSERT_EQ(Invoke(status.Disp(), u"GetBytesWrittenTotal", {}, &total), S_OK);
    if (total.U8() >= payloadBytes) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  CVar index, name, current, state, metadata;
  ASSERT_EQ(Invoke(status.Disp(), u"GetCurrentFileIndex", {}, &index), S_OK);
  EXPECT_GE(index.U4(), 1u);  // 64 KiB per file: the recording rolled over
  ASSERT_EQ(Invoke(status.Disp(), u"GetCurrentFileName", {}, &name), S_OK);
  EXPECT_NE(name.Str().find("rec"), std::string::npos);
  ASSERT_EQ(Invoke(status.Disp(), u"GetBytesWrittenCurrentFile", {}, &current), S_OK);
  EXPECT_GT(current.U8(), 0u);
  ASSERT_EQ(Invoke(status.Disp(), u"GetWriterState", {}, &state), S_OK);
  EXPECT_EQ(state.v.vt, VT_I4);
  EXPECT_EQ(state.v.lVal, wseStarted);
  ASSERT_EQ(Invoke(status.Disp(), u"GetFileSetMetadata", {}, &metadata), S_OK);
  ASSERT_EQ(Invoke(writer.Get(), u"StopRecording", {}), S_OK);
  writer.Reset();

  CQuorComPtr<IDispatch> reader = CreateByProgId(u"QuorMediaFiles.QuorMediaFileReader.1");
  ASSERT_NE(reader.Get(), nullptr);
  EXPECT_EQ(Invoke(reader.Get(), u"OpenFileSet", {Str(path.c_str()), Str("wrong")}),
            MFS_E_BAD_PASSWORD);
  ASSERT_EQ(Invoke(reader.Get(), u"OpenFileSet", {Str(path.c_str()), Str("secret")}), S_OK);

  CVar names;
  ASSERT_EQ(Invoke(reader.Get(), u"GetFileNames", {}, &names), S_OK);
  ASSERT_EQ(names.v.vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(names.Array()->rgsabound[0].cElements, index.U4() + 1);
  CVar fileStatus, fileIndex, flags;
  ASSERT_EQ(Invoke(reader.Get(), u"GetFileStatus", {Str(path.c_str())}, &fileStatus), S_OK);
  ASSERT_EQ(Invoke(fileStatus.Disp(), u"GetFileIndex", {}, &fileIndex), S_OK);
  EXPECT_EQ(fileIndex.U4(), 0u);
  ASSERT_EQ(Invoke(fileStatus.Disp(), u"GetStatusFlags", {}, &flags), S_OK);
  EXPECT_EQ(flags.U4() & 0x02u, 0x02u);  // finalized
  EXPECT_EQ(Invoke(fileStatus.Disp(), u"SetFileIndex", {U4(5)}), S_OK);
  EXPECT_EQ(Invoke(fileStatus.Disp(), u"SetStatusFlags", {U4(0x3F)}), S_OK);

  CVar trackIds;
  ASSERT_EQ(Invoke(reader.Get(), u"GetTrackIds", {}, &trackIds), S_OK);
  ASSERT_EQ(trackIds.v.vt, VT_ARRAY | VT_UI4);
  ASSERT_EQ(trackIds.Array()->rgsabound[0].cElements, 2u);
  for (ULONG id : {1u, 2u}) {
    SCOPED_TRACE(id);
    CVar track, trackName, sourceId, video, audio, first, last;
    ASSERT_EQ(Invoke(reader.Get(), u"GetTrackMetadata", {U4(id)}, &track), S_OK);
    ASSERT_EQ(Invoke(track.Disp(), u"GetTrackName", {}, &trackName), S_OK);
    EXPECT_EQ(trackName.Str(), id == 1 ? "video" : "audio");
    ASSERT_EQ(Invoke(track.Disp(), u"GetSourceId", {}, &sourceId), S_OK);
    EXPECT_EQ(sourceId.U4(), 100 + id);
    ASSERT_EQ(Invoke(track.Disp(), u"GetVideoFlag", {}, &video), S_OK);
    ASSERT_EQ(Invoke(track.Disp(), u"GetAudioFlag", {}, &audio), S_OK);
    EXPECT_EQ(video.Bool(), id == 1);
    EXPECT_EQ(audio.Bool(), id == 2);
    ASSERT_EQ(Invoke(reader.Get(), u"GetFirstTimeStamp", {U4(id)}, &first), S_OK);
    ASSERT_EQ(Invoke(reader.Get(), u"GetLastTimeStamp", {U4(id)}, &last), S_OK);
    EXPECT_EQ(first.U8(), id);
    EXPECT_EQ(last.U8(), 1000 * (kSamplesPerTrack - 1) + id);

    // Every sample of the track, forward from the first, across the member files.
    CVar sample;
    ASSERT_EQ(Invoke(reader.Get(), u"MoveTo", {U4(id), U8(first.U8())}, &sample), S_OK);
    for (ULONG i = 0;; ++i) {
      SCOPED_TRACE(i);
      CVar timestamp, payload, keyFrame, hasVideo, hasAudio, sampleFlags;
      ASSERT_EQ(Invoke(sample.Disp(), u"GetTimestamp", {}, &timestamp), S_OK);
      EXPECT_EQ(timestamp.U8(), 1000 * i + id);
      ASSERT_EQ(Invoke(sample.Disp(), u"GetPayloadData", {}, &payload), S_OK);
      ASSERT_NE(payload.Array(), nullptr);
      const std::vector<BYTE> expected = Payload(id, i);
      ASSERT_EQ(payload.Array()->rgsabound[0].cElements, expected.size());
      EXPECT_EQ(std::memcmp(payload.Array()->pvData, expected.data(), expected.size()), 0);
      ASSERT_EQ(
          Invoke(sample.Disp(), u"GetFlags", {Out(&keyFrame), Out(&hasVideo), Out(&hasAudio)}),
          S_OK);
      EXPECT_EQ(keyFrame.Bool(), i % 8 == 0);
      EXPECT_EQ(hasVideo.Bool(), id == 1);
      EXPECT_EQ(hasAudio.Bool(), id == 2);
      ASSERT_EQ(Invoke(sample.Disp(), u"GetSampleFlags", {Out(&sampleFlags)}), S_OK);
      EXPECT_EQ(sampleFlags.v.vt, VT_UI4);
      if (i + 1 == kSamplesPerTrack) {
        CVar none;
        EXPECT_TRUE(FAILED(Invoke(reader.Get(), u"MoveNext", {U4(id)}, &none)));
        break;
      }
      (void)VariantClear(&sample.v);  // the previous sample object
      ASSERT_EQ(Invoke(reader.Get(), u"MoveNext", {U4(id)}, &sample), S_OK);
    }
    CVar previous, timestamp;
    ASSERT_EQ(Invoke(reader.Get(), u"MovePrevious", {U4(id)}, &previous), S_OK);
    ASSERT_EQ(Invoke(previous.Disp(), u"GetTimestamp", {}, &timestamp), S_OK);
    EXPECT_EQ(timestamp.U8(), 1000 * (kSamplesPerTrack - 2) + id);
  }

  CVar complete, authentic, progress;
  ASSERT_EQ(Invoke(reader.Get(), u"IsCompleteFileSet", {}, &complete), S_OK);
  EXPECT_TRUE(complete.Bool());
  ASSERT_EQ(Invoke(reader.Get(), u"IsAuthentic", {}, &authentic), S_OK);
  EXPECT_TRUE(authentic.Bool());
  ASSERT_EQ(Invoke(reader.Get(), u"GetAuthenticationProgress", {Out(&progress)}), S_OK);
  EXPECT_EQ(progress.v.vt, VT_I2);
  // Nothing to cancel once authentication has finished.
  EXPECT_EQ(Invoke(reader.Get(), u"CancelAuthentication", {}), MFS_E_WRONG_STATE);

  CVar fileSet, guid, created, description, isProtected, isComplete;
  ASSERT_EQ(Invoke(reader.Get(), u"GetFileSetMetadata", {}, &fileSet), S_OK);
  ASSERT_EQ(Invoke(fileSet.Disp(), u"GetFileSetGuid", {}, &guid), S_OK);
  EXPECT_EQ(guid.Str().size(), 38u);
  EXPECT_NE(guid.Str(), "{00000000-0000-0000-0000-000000000000}");
  ASSERT_EQ(Invoke(fileSet.Disp(), u"GetFileSetCreationTime", {}, &created), S_OK);
  EXPECT_GT(created.U8(), 1600000000u);
  ASSERT_EQ(Invoke(fileSet.Disp(), u"GetFileSetDescription", {}, &description), S_OK);
  EXPECT_EQ(description.Str(), "two tracks");
  ASSERT_EQ(Invoke(fileSet.Disp(), u"IsPasswordProtected", {}, &isProtected), S_OK);
  EXPECT_TRUE(isProtected.Bool());
  ASSERT_EQ(Invoke(fileSet.Disp(), u"IsFileSetComplete", {}, &isComplete), S_OK);
  EXPECT_TRUE(isComplete.Bool());
}

TEST_F(QuorClientTest, TrackMetadataSettersAndGettersRoundTripLateBound) {
  CQuorComPtr<IDispatch> track = CreateByProgId(u"QuorMediaFiles.QuorTrackMetadata");
  ASSERT_NE(track.Get(), nullptr);
  struct Field {
    const char16_t* setter;
    const char16_t* getter;
    VARIANT (*value)();
    VARTYPE vt;
  };
  constexpr const char* kGuid = "{0A3183DC-E59B-49B7-9E8E-4DB1FBE35C80}";
  const Field kFields[] = {
      {u"SetTrackId", u"GetTrackId", [] { return U4(9); }, VT_UI4},
      {u"SetSourceId", u"GetSourceId", [] { return U4(10); }, VT_UI4},
      {u"SetPairId", u"GetPairId", [] { return U4(11); }, VT_UI4},
      {u"SetTrackName", u"GetTrackName", [] { return Str("name"); }, VT_BSTR},
      {u"SetSourceUrl", u"GetSourceUrl", [] { return Str("url"); }, VT_BSTR},
      {u"SetMediaSessionPlugin", u"GetMediaSessionPlugin", [] { return Str(kGuid); }, VT_BSTR},
      {u"SetVideoFormatIdentifier", u"GetVideoFormatIdentifier", [] { return Str(kGuid); },
       VT_BSTR},
      {u"SetAudioFormatIdentifier", u"GetAudioFormatIdentifier", [] { return Str(kGuid); },
       VT_BSTR},
      {u"SetVideoFlag", u"GetVideoFlag", [] { return Bool(true); }, VT_BOOL},
      {u"SetAudioFlag", u"GetAudioFlag", [] { return Bool(true); }, VT_BOOL},
      {u"SetAuthentic", u"IsAuthentic", [] { return Bool(true); }, VT_BOOL},
  };
  for (const Field& f : kFields) {
    SCOPED_TRACE(QuorUtf16ToUtf8(f.setter));
    CVar expected;
    expected.v = f.value();
    ASSERT_EQ(Invoke(track.Get(), f.setter, {f.value()}), S_OK);
    CVar actual;
    ASSERT_EQ(Invoke(track.Get(), f.getter, {}, &actual), S_OK);
    ASSERT_EQ(actual.v.vt, f.vt);
    switch (f.vt) {
      case VT_UI4:
        EXPECT_EQ(actual.U4(), expected.U4());
        break;
      case VT_BSTR:
        EXPECT_EQ(actual.Str(), expected.Str());
        break;
      default:
        EXPECT_EQ(actual.Bool(), expected.Bool());
    }
  }
  CVar filters;
  ASSERT_EQ(Invoke(track.Get(), u"AddFilter", {Str(kGuid)}), S_OK);
  ASSERT_EQ(Invoke(track.Get(), u"GetFilters", {}, &filters), S_OK);
  ASSERT_EQ(filters.v.vt, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(filters.Array()->rgsabound[0].cElements, 1u);
  EXPECT_EQ(Invoke(track.Get(), u"NoSuchMethod", {}), DISP_E_UNKNOWNNAME);
}

TEST_F(QuorClientTest, TheLibraryUnloadsOnlyWhenNoObjectOrLockHoldsIt) {
  ASSERT_FALSE(IsMapped());
  CQuorComPtr<IDispatch> sample;
  ASSERT_EQ(CoCreateInstance(CLSID_QuorMediaFileSample, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IDispatch, reinterpret_cast<void**>(sample.AddressOf())),
            S_OK);
  CQuorComPtr<IDispatch> status = CreateByProgId(u"QuorMediaFiles.QuorMediaFileStatus");
  CQuorComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_QuorFileSetMetadata, CLSCTX_INPROC_SERVER, nullptr,
                             IID_IClassFactory, reinterpret_cast<void**>(factory.AddressOf())),
            S_OK);
  ASSERT_TRUE(IsMapped());
  EXPECT_TRUE(CQuorInprocServerTable::Instance().IsLoaded(kServerPath));

  void* p = &p;
  EXPECT_EQ(factory->CreateInstance(sample.Get(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(factory->LockServer(1), S_OK);
  factory.Reset();

  sample.Reset();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsMapped());  // the status object and the server lock
  status.Reset();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsMapped());  // the server lock

  ASSERT_EQ(CoGetClassObject(CLSID_QuorFileSetMetadata, CLSCTX_INPROC_SERVER, nullptr,
                             IID_IClassFactory, reinterpret_cast<void**>(factory.AddressOf())),
            S_OK);
  ASSERT_EQ(factory->LockServer(0), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsMapped());  // the class object
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(CQuorInprocServerTable::Instance().IsLoaded(kServerPath));
  EXPECT_FALSE(IsMapped());

  // Loaded again on the next request.
  ASSERT_EQ(CoCreateInstance(CLSID_QuorMediaFileSample, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IDispatch, reinterpret_cast<void**>(sample.AddressOf())),
            S_OK);
  EXPECT_TRUE(IsMapped());
}

// A method called directly (not through Invoke) that fails leaves its description in the
// caller's error slot: the module and this program share one runtime. The record is the
// runtime's, so it stays readable after the library is unloaded.
TEST_F(QuorClientTest, ADirectCallsFailureLeavesItsDescriptionForTheCaller) {
  const std::string missing = m_dir.Path("missing.qmf");
  struct Call {
    const char* name;
    HRESULT expected;
    const char* description;
    HRESULT (*call)(IQuorMediaFileReader* reader, const std::string& missing);
  };
  const Call kCalls[] = {
      {"OpenFileSet", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "InitializeForReading",
       [](IQuorMediaFileReader* reader, const std::string& path) {
         return reader->OpenFileSet(CQuorBstr::FromUtf8(path).Get(), nullptr);
       }},
      {"GetFileSetMetadata", MFS_E_WRONG_STATE, "FileSetInfo block",
       [](IQuorMediaFileReader* reader, const std::string&) {
         CQuorComPtr<IQuorFileSetMetadata> metadata;
         return reader->GetFileSetMetadata(metadata.AddressOf());
       }},
  };
  for (const Call& c : kCalls) {
    SCOPED_TRACE(c.name);
    CQuorComPtr<IQuorMediaFileReader> reader;
    ASSERT_EQ(CoCreateInstance(CLSID_QuorMediaFileReader, &reader), S_OK);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(c.call(reader.Get(), missing), c.expected);
    reader.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(IsMapped());
    CQuorComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.AddressOf()), S_OK);
    ASSERT_NE(info.Get(), nullptr);
    CQuorBstr description;
    ASSERT_EQ(info->GetDescription(description.AddressOf()), S_OK);
    const std::string text = description.ToUtf8();
    EXPECT_NE(text.find(c.description), std::string::npos) << text;
  }
}

TEST_F(QuorClientTest, UnknownAndUnregisteredIdentifiersGiveTheirCodes) {
  CLSID clsid = CLSID_QuorMediaFileSample;
  EXPECT_EQ(CLSIDFromProgID(u"QuorMediaFiles.NoSuchClass", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID_NULL);
  struct ProgId {
    const char16_t* name;
    const CLSID* clsid;
  };
  const ProgId kProgIds[] = {
      {u"QuorMediaFiles.QuorMediaFileReader", &CLSID_QuorMediaFileReader},
      {u"QuorMediaFiles.QuorMediaFileReader.1", &CLSID_QuorMediaFileReader},
      {u"QuorMediaFiles.QuorMediaFileWriter.1", &CLSID_QuorMediaFileWriter},
      {u"QuorMediaFiles.QuorFileSetMetadata", &CLSID_QuorFileSetMetadata},
      {u"quormediafiles.quormediafilestatus.1", &CLSID_QuorMediaFileStatus},
  };
  for (const ProgId& p : kProgIds) {
    SCOPED_TRACE(QuorUtf16ToUtf8(p.name));
    EXPECT_EQ(CLSIDFromProgID(p.name, &clsid), S_OK);
    EXPECT_EQ(clsid, *p.clsid);
  }

  void* p = &p;
  EXPECT_EQ(
      CoCreateInstance(LIBID_QuorMediaFilesLib, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
      CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  // The module itself answers only for its coclasses.
  void* handle = ::dlopen(kServerPath, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr);
  auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
  ASSERT_NE(getClassObject, nullptr);
  EXPECT_EQ(getClassObject(IID_IQuorMediaFileRecordingStatus, IID_IClassFactory, &p),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(getClassObject(CLSID_QuorMediaFileReader, IID_IClassFactory, nullptr), E_POINTER);
  // Nothing but the four entry points leaves the module.
  EXPECT_EQ(::dlsym(handle, "CoCreateInstance"), nullptr);
  ::dlclose(handle);

  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  EXPECT_EQ(
      CoCreateInstance(CLSID_QuorMediaFileReader, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
      CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(CLSIDFromProgID(u"QuorMediaFiles.QuorMediaFileReader", &clsid), CO_E_CLASSSTRING);
}

TEST_F(QuorClientTest, AServerThatDoesNotLoadIsReported) {
  // Register, then move the server's registered path somewhere that does not exist.
  const Bytes bytes = m_dir.ReadBytes("registry");
  std::string text(bytes.begin(), bytes.end());
  const std::string missing = m_dir.Path("gone/libquormediafiles.so");
  for (std::size_t at = text.find(kServerPath); at != std::string::npos;
       at = text.find(kServerPath, at + missing.size())) {
    text.replace(at, std::strlen(kServerPath), missing);
  }
  m_dir.WriteBytes("registry", Bytes(text.begin(), text.end()));
  void* p = &p;
  EXPECT_EQ(
      CoCreateInstance(CLSID_QuorTrackMetadata, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
      CO_E_DLLNOTFOUND);
  EXPECT_EQ(p, nullptr);
}

}  // namespace
