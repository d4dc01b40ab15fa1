#include "command_line.h"

bool serialRunNeedsAPort()
{
    return true;
}
