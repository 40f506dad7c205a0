#include "ui/progress_window.h"

#include "res/resource.h"
#include "core/process_state.h"
#include "core/system_libraries.h"

namespace {

const int kTextCapacity = 256;

// One window for the whole process, shown by one operation at a time.
HWND g_progressWindow = NULL;

// The window exists, so the window functions are there.
void CentreOnScreen(const User32Functions* user, HWND window)
{
    int screenWidth = user->getSystemMetrics(SM_CXSCREEN);
    int screenHeight = user->getSystemMetrics(SM_CYSCREEN);
    RECT rect = {0, 0, 0, 0};
    user->getWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    user->setWindowPos(window, HWND_TOP, screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, 0, 0, SWP_NOSIZE);
}

}  // namespace

int ShowProgress(UINT id)
{
    if (g_process.quiet) {
        return 1;
    }
    const User32Functions* user = GetUser32();
    if (user == NULL) {
        return 0;
    }
    if (g_progressWindow == NULL) {
        g_progressWindow = user->createDialogParam(g_process.instanceHandle, MAKEINTRESOURCEW(IDD_PROGRESS), NULL,
                                                   ProgressDialogProc, 0);
        if (g_progressWindow == NULL) {
            return 0;
        }
    }
    user->showWindow(g_progressWindow, SW_SHOW);
    wchar_t text[kTextCapacity] = L"";
    if (user->loadString(g_process.instanceHandle, id, text, kTextCapacity) <= 0) {
        text[0] = L'\0';
    }
    HWND control = user->getDlgItem(g_progressWindow, IDC_PROGRESS_TEXT);
    if (control == NULL) {
        return 0;
    }
    user->setWindowText(control, text);
    return 1;
}

int CloseProgress()
{
    if (g_progressWindow != NULL) {
        GetUser32()->destroyWindow(g_progressWindow);
        g_progressWindow = NULL;
    }
    return 1;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    (void)second;
    if (message == WM_INITDIALOG) {
        CentreOnScreen(GetUser32(), window);
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
