#include "ui/progress_window.h"

#include "res/resource.h"
#include "core/setup_state.h"

namespace {

const int kTextCapacity = 256;
const DWORD kWaitStepMs = 100;

void CentreOnScreen(HWND window)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    SetWindowPos(window, HWND_TOP, screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, 0, 0, SWP_NOSIZE);
}

}  // namespace

int ShowProgress(UINT id)
{
    if (g_setup.quietMode == 1) {
        return 1;
    }
    if (g_setup.progressWindow == NULL) {
        g_setup.progressWindow =
            CreateDialogParamW(g_setup.instanceHandle, MAKEINTRESOURCEW(IDD_PROGRESS), NULL, ProgressDialogProc, 0);
        if (g_setup.progressWindow == NULL) {
            return 0;
        }
    }
    ShowWindow(g_setup.progressWindow, SW_SHOW);
    wchar_t text[kTextCapacity] = L"";
    if (LoadStringW(g_setup.instanceHandle, id, text, kTextCapacity) <= 0) {
        text[0] = L'\0';
    }
    HWND control = GetDlgItem(g_setup.progressWindow, IDC_PROGRESS_TEXT);
    if (control == NULL) {
        return 0;
    }
    SetWindowTextW(control, text);
    return 1;
}

int CloseProgress()
{
    if (g_setup.progressWindow != NULL) {
        DestroyWindow(g_setup.progressWindow);
        g_setup.progressWindow = NULL;
    }
    return 1;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    (void)second;
    if (message == WM_INITDIALOG) {
        CentreOnScreen(window);
        return 1;
    }
    if (message != WM_COMMAND) {
        return 0;
    }
    switch (LOWORD(first)) {
        case IDOK:
            return 1;
        case IDCANCEL:
            // The operation goes on without its window; its own CloseProgress
            // then finds nothing to destroy.
            CloseProgress();
            return 1;
        default:
            return 0;
    }
}

void WaitForChild(HANDLE process)
{
    while (WaitForSingleObject(process, kWaitStepMs) == WAIT_TIMEOUT) {
        HWND window = g_setup.progressWindow;
        MSG message;
        if (window != NULL && PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
}
