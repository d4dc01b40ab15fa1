#include <windows.h>

#include "command_view.h"
#include "texts.h"

void showErrorFromWindow(WindowHandle window, const UpdateContext& ctx)
{
    MessageBoxA(window, errorMessage(ctx, 0).c_str(), loadText(TextErrorCaption).c_str(), MB_ICONERROR | MB_OK);
}
