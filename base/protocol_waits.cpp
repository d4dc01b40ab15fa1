#include "protocol_waits.h"

#include <cstdio>
#include <cstdlib>

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

int applyTestWaitsFromEnvironment()
{
    const char* text = std::getenv("KT5CUFIRM_TEST_WAITS");
    int receiveMs = 0;
    int settleMs = 0;
    if (text == nullptr || std::sscanf(text, "%d,%d", &receiveMs, &settleMs) != 2 || receiveMs <= 0 || settleMs < 0)
        return 0;
    setProtocolWaitsForTests({receiveMs, settleMs});
    return 1;
}
