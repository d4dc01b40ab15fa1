// A fleet's units as given: by --ip, and in a hosts file of one
// `address[:tcp-port]` a line.
#pragma once

#include <string>
#include <vector>

#include "update_context.h"

// One unit as it was given.
struct FleetHost {
    std::string host;   // a dotted IPv4 address or a host name, as written
    int tcpPort = kDefaultTcpPort;
    int line = 0;       // its line in the hosts file; 0 when given by --ip
    // A KT-58CU unit instead: its serial port as given (--device PATH, or the
    // port of --com N with `com` N).
    std::string serialPort;
    int com = 0;
};

// The hosts file's text: one `address[:tcp-port]` a line, `#` to the line's
// end a comment, blank lines ignored; `defaultTcpPort` where a line names
// none. false with *error naming the file and the line.
bool parseHostsText(const std::string& text, const std::string& fileName, int defaultTcpPort,
                    std::vector<FleetHost>* hosts, std::string* error);
// The same from the file itself; an unreadable or empty list is an error too.
bool readHostsFile(const std::string& path, int defaultTcpPort, std::vector<FleetHost>* hosts, std::string* error);
// Every --ip in order, then the hosts file's units (when `hostsFile` is not
// empty); false with *error saying why the file cannot be used.
bool gatherFleetHosts(const std::vector<std::string>& ips, const std::string& hostsFile, int tcpPort,
                      std::vector<FleetHost>* hosts, std::string* error);
