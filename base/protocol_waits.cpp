#include "protocol_waits.h"

namespace {
ProtocolWaits waits;
}

const ProtocolWaits& protocolWaits()
{
    return waits;
}

void setProtocolWaitsForTests(const ProtocolWaits& shortened)
{
    waits = shortened;
}
