// Taskbar progress through ITaskbarList3.
#include "ui/TaskbarProgress.h"

#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>

#include <QWidget>

namespace brev::ui {

namespace {

class TaskbarList3Progress : public ITaskbarProgress {
public:
    TaskbarList3Progress(ITaskbarList3* list, HWND hwnd) : list_(list), hwnd_(hwnd) {}
    ~TaskbarList3Progress() override { list_->Release(); }
    TaskbarList3Progress(const TaskbarList3Progress&) = delete;
    TaskbarList3Progress& operator=(const TaskbarList3Progress&) = delete;

    void SetProgressValue(int completed, int total) override {
        list_->SetProgressValue(hwnd_, static_cast<ULONGLONG>(completed < 0 ? 0 : completed),
                                static_cast<ULONGLONG>(total < 0 ? 0 : total));
    }
    void SetProgressState(State state) override {
        TBPFLAG flag = TBPF_NOPROGRESS;
        if (state == State::Normal)
            flag = TBPF_NORMAL;
        else if (state == State::Error)
            flag = TBPF_ERROR;
        list_->SetProgressState(hwnd_, flag);
    }

private:
    ITaskbarList3* list_;
    HWND hwnd_;
};

}  // namespace

std::unique_ptr<ITaskbarProgress> MakeTaskbarProgress(QWidget* window) {
    // COM for this thread; balanced by the process's end, as the window lives until then.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) return nullptr;
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&list))) || !list)
        return nullptr;
    if (FAILED(list->HrInit())) {
        list->Release();
        return nullptr;
    }
    return std::make_unique<TaskbarList3Progress>(list, reinterpret_cast<HWND>(window->winId()));
}

}  // namespace brev::ui
