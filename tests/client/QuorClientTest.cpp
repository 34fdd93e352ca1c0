// A client of the component server that does not link the library: it registers the built
// shared module, creates its objects by program identifier and class identifier through the
// class registry, and calls every method late bound (GetIDsOfNames + Invoke).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/QuorInprocServerTable.h"
#include "quormediafiles/QuorMediaFilesCpp.h"
#include "quormediafiles/QuorMediaFilesInternal.h"
#include "support/QuorGot.h"
#include "support/QuorTempDir.h"

#ifndef QUOR_SERVER_PATH
#error "QUOR_SERVER_PATH names the built shared module"
#endif

namespace {

constexpr char kServerPath[] = QUOR_SERVER_PATH;

// What registration records: the versioned name the loader uses, in the module's real
// directory (the built file's name carries the full version).
std::string RegisteredPath() {
  const std::filesystem::path server(kServerPath);
  return (std::filesystem::canonical(server.parent_path()) / "libquormediafiles.so.1").string();
}

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
};

// A VARIANT of type vt whose union member `member` holds value.
template <class T, class V>
VARIANT Make(VARTYPE vt, T VARIANT::*member, V value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.*member = static_cast<T>(value);
  return v;
}
VARIANT Str(const char* text) { return Make(VT_BSTR, &VARIANT::bstrVal, QuorBstrFromUtf8(text)); }
VARIANT U4(ULONG value) { return Make(VT_UI4, &VARIANT::ulVal, value); }
VARIANT U8(ULONGLONG value) { return Make(VT_UI8, &VARIANT::ullVal, value); }
VARIANT I4(LONG value) { return Make(VT_I4, &VARIANT::lVal, value); }
VARIANT Bool(bool value) { return Make(VT_BOOL, &VARIANT::boolVal, value ? VARIANT_TRUE : 0); }
VARIANT Disp(IDispatch* object) {
  object->AddRef();  // released with the call's arguments
  return Make(VT_DISPATCH, &VARIANT::pdispVal, object);
}
VARIANT ByteArray(const Bytes& bytes) {
  return Make(VT_ARRAY | VT_UI1, &VARIANT::parray, QuorByteArray(bytes).Detach());
}
// An out-parameter: the method writes into *target, a VARIANT or a value of type vt.
VARIANT Ref(VARTYPE vt, void* target) { return Make(VT_BYREF | vt, &VARIANT::byref, target); }
VARIANT Out(CVar* target) { return Ref(VT_VARIANT, &target->v); }

// A VARIANT as "type:value", so that one comparison checks both; byte arrays as their bytes,
// other arrays as their element type and count.
std::string Array(VARTYPE vt, ULONG count) {
  return "array" + std::to_string(vt) + ":" + std::to_string(count);
}
std::string BytesText(const Bytes& bytes) {
  return "bytes:" + std::string(bytes.begin(), bytes.end());
}
std::string Text(const VARIANT& v) {
  const ULONG count = v.vt & VT_ARRAY ? v.parray->rgsabound[0].cElements : 0;
  const auto* data = v.vt & VT_ARRAY ? static_cast<const BYTE*>(v.parray->pvData) : nullptr;
  if (v.vt == (VT_ARRAY | VT_UI1)) return BytesText(Bytes(data, data + count));
  if (v.vt & VT_ARRAY) return Array(v.vt & ~VT_ARRAY, count);
  if (v.vt == VT_UI4) return "u4:" + std::to_string(v.ulVal);
  if (v.vt == VT_UI8) return "u8:" + std::to_string(v.ullVal);
  if (v.vt == VT_I4) return "i4:" + std::to_string(v.lVal);
  if (v.vt == VT_BSTR) return "str:" + QuorBstrToUtf8(v.bstrVal);
  if (v.vt == VT_DISPATCH) return v.pdispVal ? "object" : "null object";
  if (v.vt != VT_BOOL) return "vt" + std::to_string(v.vt);
  return v.boolVal == VARIANT_TRUE ? "true" : v.boolVal == VARIANT_FALSE ? "false" : "bool?";
}

// Calls method `name` of object with args (first parameter first) and stores its [out,retval]
// in *result. Returns the method's HRESULT (the one inside DISP_E_EXCEPTION when it failed); a
// failure that came as DISP_E_EXCEPTION says in *described whether it carried a description.
HRESULT Invoke(IDispatch* object, const char16_t* name, std::vector<VARIANT> args,
               CVar* result = nullptr, bool* described = nullptr) {
  DISPID dispid = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object ? object->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid) : E_POINTER;
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
  if (hr == DISP_E_EXCEPTION && described) *described = excep.bstrDescription != nullptr;
  for (BSTR text : {excep.bstrSource, excep.bstrDescription, excep.bstrHelpFile})
    SysFreeString(text);
  return hr == DISP_E_EXCEPTION ? excep.scode : hr;
}

// A method's [out,retval] as Text, or its failure code.
std::string Get(IDispatch* object, const char16_t* name, std::vector<VARIANT> args = {}) {
  CVar result;
  const HRESULT hr = Invoke(object, name, std::move(args), &result);
  return SUCCEEDED(hr) ? Text(result.v) : "failed " + std::to_string(hr);
}
// A method's numeric [out,retval]; 0 and a failure when it is not one.
ULONGLONG Number(IDispatch* object, const char16_t* name, std::vector<VARIANT> args = {}) {
  CVar result;
  EXPECT_EQ(Invoke(object, name, std::move(args), &result), S_OK) << QuorUtf16ToUtf8(name);
  if (result.v.vt == VT_UI4) return result.v.ulVal;
  EXPECT_EQ(result.v.vt, VT_UI8) << QuorUtf16ToUtf8(name);
  return result.v.vt == VT_UI8 ? result.v.ullVal : 0;
}
// The object a method returns.
CQuorComPtr<IDispatch> Object(IDispatch* object, const char16_t* name,
                              std::vector<VARIANT> args = {}) {
  CVar result;
  EXPECT_EQ(Invoke(object, name, std::move(args), &result), S_OK) << QuorUtf16ToUtf8(name);
  return CQuorComPtr<IDispatch>(result.v.vt == VT_DISPATCH ? result.v.pdispVal : nullptr);
}

// One late-bound call and the HRESULT it should return.
struct LateCall {
  const char16_t* name;
  std::vector<VARIANT> args;
  HRESULT hr = S_OK;
};
void CallAll(IDispatch* object, std::vector<LateCall> calls) {
  for (LateCall& c : calls) {
    EXPECT_EQ(Invoke(object, c.name, std::move(c.args)), c.hr) << QuorUtf16ToUtf8(c.name);
  }
}

// A new object of a program identifier, as IDispatch.
CQuorComPtr<IDispatch> CreateByProgId(const char16_t* progId) {
  CLSID clsid = GUID_NULL;
  EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
  return CreateObject<IDispatch>(clsid);
}

// Every eighth sample a key frame; track 1 video, track 2 audio.
ULONG Flags(ULONG track, ULONG index) {
  return (index % 8 == 0 ? 0x01u : 0x08u) | (track == 1 ? 0x02u : 0x04u);
}
Bytes Payload(ULONG track, ULONG index) {
  Bytes bytes(1000 + 37 * index);
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
    const std::string registered = RegisteredPath();  // outlives the list below
    for (const char* mark : {"QuorMediaFiles", "279ADA38", "0A1FD3C2", "6EFDDF73", "3435DDB1",
                             "5796CE59", "F2E9FDBC", "0A3183DC", "DD0F0965", registered.c_str()}) {
      EXPECT_EQ(text.find(mark), std::string::npos) << mark << " left in\n" << text;
    }
    ::unsetenv("QUOR_REGISTRY_FILE");
  }

  // Records a small two-track fileset and plays it back, calling every method late bound.
  void RecordAndPlayBack();

  CQuorTempDir m_dir;
};

TEST_F(QuorClientTest, RecordsAndPlaysBackATwoTrackFilesetLateBound) {
  std::thread thread([this] { RecordAndPlayBack(); });  // on a thread of its own
  thread.join();
}

void QuorClientTest::RecordAndPlayBack() {
  constexpr ULONG kSamplesPerTrack = 24;
  const std::string path = m_dir.Path("rec.qmf");

  CQuorComPtr<IDispatch> writer = CreateByProgId(u"QuorMediaFiles.QuorMediaFileWriter");
  CallAll(writer.Get(), {{u"Initialize", {Str(path.c_str()), U4(64), U4(8), Bool(true)}},
                         {u"SetDescription", {Str("two tracks")}},
                         {u"SetPassword", {Str("secret")}}});
  for (ULONG id : {1u, 2u}) {
    CQuorComPtr<IDispatch> track = CreateByProgId(u"QuorMediaFiles.QuorTrackMetadata.1");
    CallAll(track.Get(), {{u"SetTrackId", {U4(id)}},
                          {u"SetTrackName", {Str(id == 1 ? "video" : "audio")}},
                          {u"SetVideoFlag", {Bool(id == 1)}},
                          {u"SetAudioFlag", {Bool(id == 2)}},
                          {u"SetSourceId", {U4(100 + id)}},
                          {u"SetSourceUrl", {Str("rtsp://camera/1")}},
                          {u"SetPairId", {U4(7)}}});
    CallAll(writer.Get(), {{u"AddTrack", {Disp(track.Get())}}});
  }
  CallAll(writer.Get(), {{u"StartRecording", {}}});
  ASSERT_FALSE(HasFailure());

  ULONGLONG payloadBytes = 0;
  for (ULONG i = 0; i < kSamplesPerTrack; ++i) {
    for (ULONG id : {1u, 2u}) {
      CQuorComPtr<IDispatch> sample = CreateByProgId(u"QuorMediaFiles.QuorMediaFileSample");
      CallAll(sample.Get(), {{u"SetTimestamp", {U8(1000 * i + id)}},
                             {u"SetFlags", {Bool(i % 8 == 0), Bool(id == 1), Bool(id == 2)}},
                             {u"SetPayloadData", {ByteArray(Payload(id, i))}},
                             {u"SetSampleFlags", {U4(Flags(id, i))}}});
      const HRESULT hr = Invoke(writer.Get(), u"Write", {U4(id), Disp(sample.Get())});
      ASSERT_TRUE(hr == S_OK || hr == MFS_S_NEXT_FILE) << std::hex << hr;
      payloadBytes += Payload(id, i).size();
    }
  }

  // Write only queues, and StopRecording drops what is still queued: wait for the queue
  // through the writer's second interface (it has no dispatch part).
  ASSERT_EQ(QueryAs<IQuorMediaFileWriter2>(writer)->Drain(), S_OK);
  CQuorComPtr<IDispatch> status = Object(writer.Get(), u"GetRecordingStatus");
  EXPECT_GE(Number(status.Get(), u"GetBytesWrittenTotal"), payloadBytes);
  const ULONGLONG lastIndex = Number(status.Get(), u"GetCurrentFileIndex");
  EXPECT_GE(lastIndex, 1u);  // 64 KiB per file: the recording rolled over
  EXPECT_NE(Get(status.Get(), u"GetCurrentFileName").find("rec"), std::string::npos);
  EXPECT_GT(Number(status.Get(), u"GetBytesWrittenCurrentFile"), 0u);
  EXPECT_EQ(Get(status.Get(), u"GetWriterState"), "i4:" + std::to_string(wseStarted));
  EXPECT_EQ(Get(status.Get(), u"GetFileSetMetadata"), "object");
  CallAll(writer.Get(), {{u"StopRecording", {}}});
  writer.Reset();

  CQuorComPtr<IDispatch> reader = CreateByProgId(u"QuorMediaFiles.QuorMediaFileReader.1");
  CallAll(reader.Get(), {{u"OpenFileSet", {Str(path.c_str()), Str("wrong")}, MFS_E_BAD_PASSWORD},
                         {u"OpenFileSet", {Str(path.c_str()), Str("secret")}}});
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(Get(reader.Get(), u"GetFileNames"), Array(VT_BSTR, ULONG(lastIndex) + 1));
  CQuorComPtr<IDispatch> fileStatus = Object(reader.Get(), u"GetFileStatus", {Str(path.c_str())});
  EXPECT_EQ(Get(fileStatus.Get(), u"GetFileIndex"), "u4:0");
  EXPECT_EQ(Number(fileStatus.Get(), u"GetStatusFlags") & 0x02u, 0x02u);  // finalized
  CallAll(fileStatus.Get(), {{u"SetFileIndex", {U4(5)}}, {u"SetStatusFlags", {U4(0x3F)}}});

  EXPECT_EQ(Get(reader.Get(), u"GetTrackIds"), Array(VT_UI4, 2));
  for (ULONG id : {1u, 2u}) {
    SCOPED_TRACE(id);
    CQuorComPtr<IDispatch> track = Object(reader.Get(), u"GetTrackMetadata", {U4(id)});
    EXPECT_EQ(Get(track.Get(), u"GetTrackName"), id == 1 ? "str:video" : "str:audio");
    EXPECT_EQ(Get(track.Get(), u"GetSourceId"), "u4:" + std::to_string(100 + id));
    EXPECT_EQ(Get(track.Get(), u"GetVideoFlag"), id == 1 ? "true" : "false");
    EXPECT_EQ(Get(track.Get(), u"GetAudioFlag"), id == 2 ? "true" : "false");
    const ULONGLONG last = 1000 * (kSamplesPerTrack - 1) + id;
    EXPECT_EQ(Get(reader.Get(), u"GetFirstTimeStamp", {U4(id)}), "u8:" + std::to_string(id));
    EXPECT_EQ(Get(reader.Get(), u"GetLastTimeStamp", {U4(id)}), "u8:" + std::to_string(last));

    // Every sample of the track, forward from the first, across the member files.
    for (ULONG i = 0; i < kSamplesPerTrack; ++i) {
      SCOPED_TRACE(i);
      CQuorComPtr<IDispatch> sample = i == 0 ? Object(reader.Get(), u"MoveTo", {U4(id), U8(id)})
                                             : Object(reader.Get(), u"MoveNext", {U4(id)});
      EXPECT_EQ(Get(sample.Get(), u"GetTimestamp"), "u8:" + std::to_string(1000 * i + id));
      EXPECT_EQ(Get(sample.Get(), u"GetPayloadData"), BytesText(Payload(id, i)));
      // Out-arguments as typed references and as references to a VARIANT.
      CVar hasVideo, hasAudio;
      VARIANT_BOOL keyFrame = 7;
      ULONG sampleFlags = 0;
      EXPECT_EQ(Invoke(sample.Get(), u"GetFlags",
                       {Ref(VT_BOOL, &keyFrame), Out(&hasVideo), Out(&hasAudio)}),
                S_OK);
      EXPECT_EQ(keyFrame, i % 8 == 0 ? VARIANT_TRUE : VARIANT_FALSE);
      EXPECT_EQ(Text(hasVideo.v) + Text(hasAudio.v), id == 1 ? "truefalse" : "falsetrue");
      EXPECT_EQ(Invoke(sample.Get(), u"GetSampleFlags", {Ref(VT_UI4, &sampleFlags)}), S_OK);
      EXPECT_EQ(sampleFlags, Flags(id, i));
    }
    EXPECT_TRUE(FAILED(Invoke(reader.Get(), u"MoveNext", {U4(id)})));
    CQuorComPtr<IDispatch> previous = Object(reader.Get(), u"MovePrevious", {U4(id)});
    EXPECT_EQ(Get(previous.Get(), u"GetTimestamp"), "u8:" + std::to_string(last - 1000));
  }

  EXPECT_EQ(Get(reader.Get(), u"IsCompleteFileSet"), "true");
  EXPECT_EQ(Get(reader.Get(), u"IsAuthentic"), "true");
  CVar progress;
  EXPECT_EQ(Invoke(reader.Get(), u"GetAuthenticationProgress", {Out(&progress)}), S_OK);
  EXPECT_EQ(progress.v.vt, VT_I2);
  // Nothing to cancel once authentication has finished.
  EXPECT_EQ(Invoke(reader.Get(), u"CancelAuthentication", {}), MFS_E_WRONG_STATE);

  CQuorComPtr<IDispatch> fileSet = Object(reader.Get(), u"GetFileSetMetadata");
  const std::string guid = Get(fileSet.Get(), u"GetFileSetGuid");
  EXPECT_EQ(guid.size(), 4u + 38);
  EXPECT_NE(guid, "str:{00000000-0000-0000-0000-000000000000}");
  EXPECT_GT(Number(fileSet.Get(), u"GetFileSetCreationTime"), 1600000000u);
  EXPECT_EQ(Get(fileSet.Get(), u"GetFileSetDescription"), "str:two tracks");
  EXPECT_EQ(Get(fileSet.Get(), u"IsPasswordProtected"), "true");
  EXPECT_EQ(Get(fileSet.Get(), u"IsFileSetComplete"), "true");
}

TEST_F(QuorClientTest, InvokeRefusesCallsThatDoNotFitTheDescription) {
  CQuorComPtr<IDispatch> track = CreateByProgId(u"QuorMediaFiles.QuorTrackMetadata");
  // Name, the method, its arguments, the result.
  const std::tuple<const char*, const char16_t*, std::vector<VARIANT>, HRESULT> kCases[] = {
      {"UnknownName", u"Frobnicate", {}, DISP_E_UNKNOWNNAME},
      {"TooFewArguments", u"SetTrackId", {}, DISP_E_BADPARAMCOUNT},
      {"RetvalPassedAsArgument", u"GetTrackId", {U4(1)}, DISP_E_BADPARAMCOUNT},
      {"NumberForString", u"SetTrackName", {U4(1)}, DISP_E_TYPEMISMATCH},
      {"NullString", u"SetTrackName", {Make(VT_BSTR, &VARIANT::bstrVal, nullptr)}, E_POINTER},
      {"NamesIgnoreCase", u"settrackid", {I4(42)}, S_OK},
  };
  for (const auto& [name, method, args, expected] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Invoke(track.Get(), method, args), expected);
  }
  EXPECT_EQ(Get(track.Get(), u"GetTrackId"), "u4:42");  // only the lower-case call set it

  // A method that fails without a record of its own reports none, whatever an earlier call
  // left on the thread.
  auto reader = CreateObject<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
  ASSERT_TRUE(FAILED(reader->GetTrackIds(nullptr)));
  bool described = true;  // stays so unless the failure comes as DISP_E_EXCEPTION
  EXPECT_EQ(Invoke(track.Get(), u"GetTrackName", {}, nullptr, &described), MFS_E_NO_VALUE);
  EXPECT_FALSE(described) << "the reader's record came back";
}

// The writer's options and seal settings are dual interfaces of their own, bound late from
// their descriptions.
TEST_F(QuorClientTest, WriterOptionsAndSealAreReachedThroughTheirOwnInterfaces) {
  CQuorComPtr<IDispatch> writer = CreateByProgId(u"QuorMediaFiles.QuorMediaFileWriter");
  CQuorComPtr<IDispatch> options;
  ASSERT_EQ(writer->QueryInterface(IID_IQuorMediaFileWriterOptions,
                                   reinterpret_cast<void**>(options.AddressOf())),
            S_OK);
  CallAll(options.Get(), {{u"SetIndexPeriod", {U4(5)}},
                          {u"SetDurable", {Bool(true)}},
                          {u"Initialize", {}, DISP_E_UNKNOWNNAME}});
  EXPECT_EQ(Number(options.Get(), u"GetIndexPeriod"), 5u);
  EXPECT_EQ(Get(options.Get(), u"GetDurable"), "true");
  EXPECT_EQ(Number(options.Get(), u"GetDroppedSampleCount"), 0u);

  CQuorComPtr<IDispatch> seal;
  ASSERT_EQ(writer->QueryInterface(IID_IQuorMediaFileWriterSeal,
                                   reinterpret_cast<void**>(seal.AddressOf())),
            S_OK);
  CallAll(seal.Get(),
          {{u"SetSigningKey", {Str("")}}, {u"SetDurable", {Bool(true)}, DISP_E_UNKNOWNNAME}});
}

TEST_F(QuorClientTest, TheLibraryUnloadsOnlyWhenNoObjectOrLockHoldsIt) {
  ASSERT_FALSE(IsMapped());
  auto sample = CreateObject<IDispatch>(CLSID_QuorMediaFileSample);
  CQuorComPtr<IDispatch> status = CreateByProgId(u"QuorMediaFiles.QuorMediaFileStatus");
  CQuorComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_QuorFileSetMetadata, CLSCTX_INPROC_SERVER, nullptr,
                             IID_IClassFactory, reinterpret_cast<void**>(factory.AddressOf())),
            S_OK);
  ASSERT_TRUE(IsMapped());
  EXPECT_TRUE(CQuorInprocServerTable::Instance().IsLoaded(RegisteredPath()));

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
  EXPECT_FALSE(CQuorInprocServerTable::Instance().IsLoaded(RegisteredPath()));
  EXPECT_FALSE(IsMapped());

  // Loaded again on the next request.
  ASSERT_EQ(CoCreateInstance(CLSID_QuorMediaFileSample, &sample), S_OK);
  EXPECT_TRUE(IsMapped());
}

// A method called directly (not through Invoke) that fails leaves its description in the
// caller's error slot: the module and this program share one runtime. The record is the
// runtime's, so it stays readable after the library is unloaded.
TEST_F(QuorClientTest, ADirectCallsFailureLeavesItsDescriptionForTheCaller) {
  auto reader = CreateObject<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(reader->OpenFileSet(CQuorBstr::FromUtf8(m_dir.Path("missing.qmf")).Get(), nullptr),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  reader.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsMapped());
  const std::string description = LastErrorText();
  EXPECT_NE(description.find("InitializeForReading"), std::string::npos) << description;
}

TEST_F(QuorClientTest, UnknownAndUnregisteredIdentifiersGiveTheirCodes) {
  CLSID clsid = CLSID_QuorMediaFileSample;
  EXPECT_EQ(CLSIDFromProgID(u"QuorMediaFiles.NoSuchClass", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID_NULL);
  // Identifiers match without regard to case.
  EXPECT_EQ(CLSIDFromProgID(u"quormediafiles.quormediafilestatus.1", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_QuorMediaFileStatus);
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
  const std::string registered = RegisteredPath();
  for (std::size_t at = text.find(registered); at != std::string::npos;
       at = text.find(registered, at + missing.size())) {
    text.replace(at, registered.size(), missing);
  }
  m_dir.WriteBytes("registry", Bytes(text.begin(), text.end()));
  void* p = &p;
  EXPECT_EQ(
      CoCreateInstance(CLSID_QuorTrackMetadata, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
      CO_E_DLLNOTFOUND);
  EXPECT_EQ(p, nullptr);
}

}  // namespace
