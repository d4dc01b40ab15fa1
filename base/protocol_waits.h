// The protocol's long waits. The program uses these values as they stand;
// tests shorten them through setProtocolWaitsForTests so that a time-out or
// the XPort's settling wait does not take seconds.
#pragma once

struct ProtocolWaits {
    int receiveMs = 5000;  // each wait for a reply on a link or the UDP channel
    int settleMs = 7000;   // the XPort's settling wait after a put-setup
};

const ProtocolWaits& protocolWaits();

// Test-only hook.
void setProtocolWaitsForTests(const ProtocolWaits& waits);

// The test suite's hook for a whole program: KT5CUFIRM_TEST_WAITS set to
// "receiveMs,settleMs" shortens the waits. Read once by each front end at
// start; 1 when the variable is in effect, which the front end then makes
// visible. Without it (or when it is malformed) nothing changes and 0.
int applyTestWaitsFromEnvironment();
