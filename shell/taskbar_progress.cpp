#include "taskbar_progress.h"

#include <objbase.h>
#include <shobjidl.h>

namespace {

// The system's taskbar list, made once on the window's thread; null where
// the system has none.
ITaskbarList3* taskbar_list()
{
    static bool asked = false;
    static ITaskbarList3* list = nullptr;
    if (!asked) {
        asked = true;
        const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        void* made = nullptr;
        if (SUCCEEDED(initialized) || initialized == RPC_E_CHANGED_MODE) {
            if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_ITaskbarList3, &made)) &&
                made != nullptr) {
                list = static_cast<ITaskbarList3*>(made);
                if (FAILED(list->HrInit())) {
                    list->Release();
                    list = nullptr;
                }
            }
        }
    }
    return list;
}

}  // namespace

void show_taskbar_progress(HWND window, std::size_t done, std::size_t count)
{
    ITaskbarList3* list = taskbar_list();
    if (list == nullptr) {
        return;
    }
    if (count == 0) {
        list->SetProgressState(window, TBPF_NOPROGRESS);
        return;
    }
    list->SetProgressState(window, TBPF_NORMAL);
    list->SetProgressValue(window, done, count);
}
