#include "command_view.h"
#include "command_window_posix.h"

void showErrorFromWindow(WindowHandle window, const UpdateContext& ctx)
{
    if (window != nullptr && window->view() != nullptr)
        showError(*window->view(), ctx, 0);
}
