// VtrlSrv's module frame: the entry function, the class table and the four exports.
#include "dll_module.h"
#include "download.h"
#include "upload.h"

namespace {

constexpr WORD kUploadScript = 101;
constexpr WORD kDownloadScript = 102;

_ATL_OBJMAP_ENTRY g_object_map[] = {
    dll_module_class<&g_vtrl_module, kUploadScript>(&CLSID_KaFileUpload,
                                                    KaFileUpload::CreateInstance),
    dll_module_class<&g_vtrl_module, kDownloadScript>(&CLSID_KaFileDownLoad,
                                                      KaFileDownLoad::CreateInstance),
    kDllModuleTableEnd,
};

}  // namespace

DLL_MODULE_ENTRY_POINTS(g_vtrl_module, g_object_map)
