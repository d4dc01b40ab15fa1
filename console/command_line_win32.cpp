#include "command_line.h"

bool serialRunNeedsAPort()
{
    return false;  // COM1, the dialog's default too
}
