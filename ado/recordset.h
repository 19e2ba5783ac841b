// The Recordset class: the rows of one command, read forward only. Its fields read the current
// row in place; long fields can be read in chunks.
#pragma once

#include "ado_object.h"
#include "connection.h"
#include "database.h"

class RecordsetObject final
    : public AdoObject<RecordsetObject, _Recordset, &IID__Recordset, &IID_Recordset21,
                       &IID_Recordset20, &IID_Recordset15, &IID__ADO, &kRecordsetIdentity> {
 public:
  static constexpr const IID& kIdentity = kRecordsetIdentity;

  // A new, closed recordset for what a command will produce, made before the command runs so
  // that a failure to make it leaves the database untouched. Failures set error information
  // (clsid, iid).
  static HRESULT Prepare(REFCLSID clsid, REFIID iid, ComPtr<RecordsetObject>* out);
  // Takes over what a command produced: open on its rows, closed when it returned none.
  void Adopt(CommandResult&& result);

  // The rows on their current row in *rows; when the recordset is closed or has no current
  // row, the failure status, with error information set for iid.
  HRESULT CurrentRow(REFIID iid, Rows** rows);
  // The rows while open (for the names and types of their columns), as CurrentRow.
  HRESULT OpenRows(REFIID iid, Rows** rows);

  // Where GetChunk goes on: reading another field, or moving, starts over.
  struct ChunkPosition {
    int column = -1;
    ULONGLONG offset = 0;
  };
  ChunkPosition& chunk_position() { return chunk_; }

  // A script's rs("name") reaches the default member with an argument: it is the fields'
  // default member.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // _ADO
  HRESULT STDMETHODCALLTYPE get_Properties(Properties**) override { return E_NOTIMPL; }
  // Recordset15
  HRESULT STDMETHODCALLTYPE get_AbsolutePosition(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AbsolutePosition(LONGLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE putref_ActiveConnection(IDispatch* pvar) override;
  HRESULT STDMETHODCALLTYPE put_ActiveConnection(VARIANT pvar) override;
  HRESULT STDMETHODCALLTYPE get_ActiveConnection(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BOF(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Bookmark(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Bookmark(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CacheSize(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CacheSize(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CursorType(CursorTypeEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CursorType(CursorTypeEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_EOF(VARIANT_BOOL* pb) override;
  HRESULT STDMETHODCALLTYPE get_Fields(Fields** ppvObject) override;
  HRESULT STDMETHODCALLTYPE get_LockType(LockTypeEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_LockType(LockTypeEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MaxRecords(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_MaxRecords(LONGLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_RecordCount(LONGLONG* pl) override;
  HRESULT STDMETHODCALLTYPE putref_Source(IDispatch*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Source(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Source(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddNew(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CancelUpdate() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE Delete(AffectEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRows(LONG, VARIANT, VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Move(LONGLONG, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveNext() override;
  HRESULT STDMETHODCALLTYPE MovePrevious() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveFirst() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveLast() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Open(VARIANT Source, VARIANT ActiveConnection,
                                 CursorTypeEnum CursorType, LockTypeEnum LockType,
                                 LONG Options) override;
  HRESULT STDMETHODCALLTYPE Requery(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE _xResync(AffectEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Update(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AbsolutePage(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AbsolutePage(LONGLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_EditMode(EditModeEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Filter(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Filter(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_PageCount(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_PageSize(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_PageSize(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Sort(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Sort(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Status(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_State(LONG* plObjState) override;
  HRESULT STDMETHODCALLTYPE _xClone(_Recordset**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UpdateBatch(AffectEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CancelBatch(AffectEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CursorLocation(CursorLocationEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CursorLocation(CursorLocationEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NextRecordset(VARIANT*, _Recordset**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Supports(CursorOptionEnum, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Collect(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Collect(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MarshalOptions(MarshalOptionsEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_MarshalOptions(MarshalOptionsEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Find(BSTR, LONGLONG, SearchDirectionEnum, VARIANT) override {
    return E_NOTIMPL;
  }
  // Recordset20
  HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DataSource(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE putref_DataSource(IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE _xSave(BSTR, PersistFormatEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ActiveCommand(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_StayInSync(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_StayInSync(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetString(StringFormatEnum, LONG, BSTR, BSTR, BSTR, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_DataMember(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_DataMember(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CompareBookmarks(VARIANT, VARIANT, CompareEnum*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Clone(LockTypeEnum, _Recordset**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Resync(AffectEnum, ResyncEnum) override { return E_NOTIMPL; }
  // Recordset21
  HRESULT STDMETHODCALLTYPE Seek(VARIANT, SeekEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Index(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Index(BSTR*) override { return E_NOTIMPL; }
  // _Recordset
  HRESULT STDMETHODCALLTYPE Save(VARIANT, PersistFormatEnum) override { return E_NOTIMPL; }

 private:
  friend AdoObject;
  RecordsetObject() = default;
  ~RecordsetObject();

  void CloseRows();

  ComPtr<ConnectionObject> active_connection_;
  std::unique_ptr<Rows> rows_;  // while open
  ChunkPosition chunk_;
};
