// The out-of-line halves of the method frame: what happens after the body threw.
#include "core/QuorMethodFrame.h"

#include <string>

#include "quormediafiles/platform/QuorErrorInfo.h"
#include "quormediafiles/platform/QuorGuid.h"
#include "quormediafiles/platform/QuorOleAuto.h"

void QuorSetErrorInfo(const CLSID* clsid, const IID* iid, const char* source,
                      const char* description) noexcept {
  try {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    (void)create->SetGUID(iid ? *iid : GUID_NULL);  // cannot fail
    const std::string sourceText = source  ? std::string(source)
                                   : clsid ? QuorGuidToString(*clsid)
                                           : std::string();
    CQuorBstr sourceBstr = CQuorBstr::FromUtf8(sourceText);
    // A field that cannot be copied for want of memory is left empty; the record still goes.
    (void)create->SetSource(sourceBstr.Get());
    if (description) {
      CQuorBstr descriptionBstr = CQuorBstr::FromUtf8(description);
      (void)create->SetDescription(descriptionBstr.Get());
    }
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      (void)SetErrorInfo(0, info);  // always S_OK
      info->Release();
    }
    create->Release();
  } catch (...) {
    // Error information is a courtesy: its failure never changes the method's result.
  }
}

namespace quor_frame_detail {

namespace {
// The source given, else the coclass's CLSID text (chosen by QuorSetErrorInfo), else the method.
const char* SourceOf(const QuorFrameInfo& info) noexcept {
  if (info.source) return info.source;
  return info.clsid ? nullptr : info.methodName;
}
}  // namespace

HRESULT OnLoggedException(const QuorFrameInfo& info, DXL_FunctionLogger& logger,
                          const CLoggedException& e, bool setErrorInfo) noexcept {
  logger.LogErrorMessage(e.Hr(), e.Message().c_str());
  if (setErrorInfo) QuorSetErrorInfo(info.clsid, info.iid, SourceOf(info), e.Message().c_str());
  return e.Hr();
}

HRESULT OnUnexpectedException(const QuorFrameInfo& info, DXL_FunctionLogger& logger,
                              bool setErrorInfo) noexcept {
  logger.LogErrorMessage(E_UNEXPECTED);
  if (setErrorInfo) QuorSetErrorInfo(info.clsid, info.iid, SourceOf(info), nullptr);
  return E_UNEXPECTED;
}

}  // namespace quor_frame_detail
