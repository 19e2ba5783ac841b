// Setting up and running a command.
#include "command.h"

#include <optional>

#include "parameter.h"
#include "recordset.h"
#include "scoped_safearray.h"

namespace {

HRESULT fail(HRESULT hr, const char16_t* description) {
  return ReportAdoError(CLSID_Command, IID_Command15, hr, description);
}

// The values of Execute's Parameters argument: an array of values, or one value.
class ArgumentValues final : public BindValues {
 public:
  explicit ArgumentValues(const VARIANT& given) {
    const VARIANT* v = &given;
    while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
      v = v->pvarVal;
    if ((v->vt & ~VT_BYREF) == (VT_ARRAY | VT_VARIANT)) {
      SAFEARRAY* array = (v->vt & VT_BYREF) ? *v->pparray : v->parray;
      if (array && SafeArrayGetDim(array) == 1) {
        locked_.emplace(array);
        if (SUCCEEDED(locked_->status())) {
          values_ = locked_->data<const VARIANT>();
          count_ = static_cast<size_t>(element_count(array));
        }
      }
    } else {
      values_ = v;
      count_ = 1;
    }
  }
  ArgumentValues(const ArgumentValues&) = delete;
  ArgumentValues& operator=(const ArgumentValues&) = delete;

  bool usable() const { return values_ != nullptr; }
  size_t Count() const override { return count_; }
  const VARIANT& At(size_t index) const override { return values_[index]; }

 private:
  static ULONGLONG element_count(SAFEARRAY* array) {
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    return upper >= lower ? static_cast<ULONGLONG>(upper - lower + 1) : 0;
  }

  std::optional<SafeArrayDataScope> locked_;
  const VARIANT* values_ = nullptr;
  size_t count_ = 0;
};

bool given(const VARIANT* value) {
  return value && value->vt != VT_EMPTY &&
         !(value->vt == VT_ERROR && value->scode == DISP_E_PARAMNOTFOUND);
}

}  // namespace

HRESULT CommandObject::get_ActiveConnection(_Connection** ppvObject) {
  if (!ppvObject)
    return E_POINTER;
  *ppvObject = nullptr;
  if (connection_) {
    connection_->AddRef();
    *ppvObject = connection_.Get();
  }
  return S_OK;
}

HRESULT CommandObject::putref_ActiveConnection(_Connection* ppvObject) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_UNKNOWN;
  value.punkVal = ppvObject;
  return put_ActiveConnection(value);
}

HRESULT CommandObject::put_ActiveConnection(VARIANT ppvObject) {
  ComPtr<ConnectionObject> connection;
  HRESULT hr = ConnectionObject::FromVariant(ppvObject, CLSID_Command, IID_Command15, &connection);
  if (FAILED(hr))
    return hr;
  connection_ = std::move(connection);
  return S_OK;
}

HRESULT CommandObject::get_CommandText(BSTR* pbstr) {
  if (!pbstr)
    return E_POINTER;
  *pbstr = SysAllocStringLen(text_.Get(), text_.Length());
  return *pbstr ? S_OK : fail(E_OUTOFMEMORY, u"Out of memory.");
}

HRESULT CommandObject::put_CommandText(BSTR pbstr) {
  return text_.AllocateLen(pbstr, SysStringLen(pbstr)) ? S_OK
                                                       : fail(E_OUTOFMEMORY, u"Out of memory.");
}

HRESULT CommandObject::put_CommandType(CommandTypeEnum plCmdType) {
  switch (plCmdType) {
    case adCmdUnspecified:
    case adCmdText:
    case adCmdTable:
    case adCmdStoredProc:
    case adCmdUnknown:
    case adCmdFile:
    case adCmdTableDirect:
      type_ = plCmdType;
      return S_OK;
    default:
      return fail(AdoErrorStatus(adErrInvalidArgument), u"Unknown command type.");
  }
}

HRESULT CommandObject::get_CommandType(CommandTypeEnum* plCmdType) {
  if (!plCmdType)
    return E_POINTER;
  *plCmdType = type_;
  return S_OK;
}

HRESULT CommandObject::get_Parameters(Parameters** ppvObject) {
  if (!ppvObject)
    return E_POINTER;
  *ppvObject = nullptr;
  if (!parameters_) {
    HRESULT hr = ParametersObject::Create(&parameters_);
    if (FAILED(hr))
      return fail(hr, u"Out of memory.");
  }
  parameters_->AddRef();
  *ppvObject = parameters_.Get();
  return S_OK;
}

HRESULT CommandObject::CreateParameter(BSTR Name, DataTypeEnum Type,
                                       ParameterDirectionEnum Direction, LONGLONG Size,
                                       VARIANT Value, _Parameter** ppiprm) {
  if (!ppiprm)
    return E_POINTER;
  *ppiprm = nullptr;
  ComPtr<ParameterObject> parameter;
  HRESULT hr = ParameterObject::Create(&parameter);
  if (FAILED(hr))
    return fail(hr, u"Out of memory.");
  // The parameter reports its own failures; the command passes them on.
  if (FAILED(hr = parameter->put_Name(Name)) || FAILED(hr = parameter->put_Type(Type)) ||
      FAILED(hr = parameter->put_Direction(Direction)) || FAILED(hr = parameter->put_Size(Size)) ||
      FAILED(hr = parameter->put_Value(Value)))
    return hr;
  *ppiprm = parameter.Release();
  return S_OK;
}

HRESULT CommandObject::Execute(VARIANT* RecordsAffected, VARIANT* Parameters, LONG Options,
                               _Recordset** ppirs) {
  if (!ppirs)
    return E_POINTER;
  *ppirs = nullptr;
  if (type_ != adCmdText && type_ != adCmdUnknown && type_ != adCmdUnspecified)
    return fail(AdoErrorStatus(adErrFeatureNotAvailable),
                u"Only command text can be run on this provider.");
  if (!connection_)
    return fail(AdoErrorStatus(adErrInvalidConnection), u"The command has no connection.");
  Database* db = connection_->OpenDatabase();
  if (!db)
    return fail(AdoErrorStatus(adErrInvalidConnection), u"The command's connection is closed.");
  const bool wants_records = Options == adOptionUnspecified || !(Options & adExecuteNoRecords);
  ComPtr<RecordsetObject> recordset;
  HRESULT hr =
      wants_records ? RecordsetObject::Prepare(CLSID_Command, IID_Command15, &recordset) : S_OK;
  if (FAILED(hr)) {
    db->Release();
    return hr;
  }
  CommandResult result;
  if (given(Parameters)) {
    ArgumentValues values(*Parameters);
    hr = values.usable()
             ? db->Run(text_.Get(), text_.Length(), values, CLSID_Command, IID_Command15, &result)
             : fail(AdoErrorStatus(adErrInvalidArgument),
                    u"The parameter values are not a list of values.");
  } else if (parameters_) {
    hr = parameters_->PrepareValues();
    if (SUCCEEDED(hr))
      hr = db->Run(text_.Get(), text_.Length(), *parameters_.Get(), CLSID_Command, IID_Command15,
                   &result);
  } else {
    hr =
        db->Run(text_.Get(), text_.Length(), NoBindValues(), CLSID_Command, IID_Command15, &result);
  }
  if (SUCCEEDED(hr)) {
    if (RecordsAffected) {
      RecordsAffected->vt = VT_I4;
      RecordsAffected->lVal = result.records_affected;
    }
    if (recordset) {
      recordset->Adopt(std::move(result));
      *ppirs = recordset.Release();
    }
  }
  db->Release();
  return hr;
}
