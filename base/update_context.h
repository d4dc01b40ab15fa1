// The one record of all state shared by the window and the worker.
#pragma once

#include <cstdint>

#include "default_ports.h"
#include "platform_types.h"

struct RunHooks;

enum LinkMethod : int32_t {
    Serial = 0,   // KT-58CU over a COM port
    Network = 1,  // KT-58NET over TCP, with the XPort switched over UDP
};

// What the next status line shows; also the answer to the confirmation.
enum StatusCode : int32_t {
    StConnecting = 1,
    StDisconnecting = 3,
    StConfirmed = 6,
    StDeclined = 7,
    StQuitting = 8,
    StReading = 9,
    StWriting = 10,
    StXportChanging = 11,
    StXportRestoring = 12,
    StErasing = 14,
};

// What the next error message box shows; 0 means no error.
enum ErrorCode : int32_t {
    ErrXportChange = 1,
    ErrXportRestore = 2,
    ErrWrite = 3,
    ErrSocketInit = 4,
    ErrNoAddress = 5,
    ErrNoPort = 6,
    ErrSocketCreate = 7,
    ErrConnect = 8,
    ErrSend = 9,
    ErrUdpSocketCreate = 11,
    ErrUdpBind = 12,
    ErrUdpSend = 14,
    ErrLinkOpen = 16,
    ErrImageRead = 17,
    ErrUpdateMode = 18,
    ErrImageFormat = 19,
    ErrCommandChannel = 40,  // the window's command event could not be made
};

inline constexpr int kBufferSize = 1024;
inline constexpr int kPathSize = 260;
inline constexpr int kIpTextSize = 16;
inline constexpr int kQueryReplySize = 30;
inline constexpr int kSetupRecordSize = 124;

// The XPort setup records of one run; savedSetup must survive from the
// switch to the restore of the same run, the others are working storage.
struct XportRecords {
    uint8_t xportQueryReply[kQueryReplySize];
    uint8_t savedSetup[kSetupRecordSize];
    uint8_t changedSetup[kSetupRecordSize];
    uint8_t setupAfterChange[kSetupRecordSize];
    uint8_t restoredSetup[kSetupRecordSize];
    uint8_t setupAfterRestore[kSetupRecordSize];
};

// The device exchange a run is in, for RunFacts::step.
enum ExchangeStep : int32_t {
    StepNone = 0,
    StepIdentify = 1,
    StepEnter = 2,
    StepRecord = 3,
    StepVerify = 4,
    StepQuit = 5,
};

// What a run's exchanges met, so that a front end can say why a step failed:
// filled on the worker thread by the protocol, the links and the XPort's
// channel, read by the window while it carries out a command of the worker.
struct RunFacts {
    int32_t step;              // ExchangeStep of the last device exchange
    int32_t record;            // the record in flight, from 1; 0 before the first
    int32_t line;              // its line in the image file
    uint32_t address;          // its load address, the extended bases applied
    uint32_t dataBytes;        // data bytes of the records acknowledged so far
    uint32_t lineBytes;        // bytes of the records sent so far, as they went on the link
    uint8_t expected[4];       // what the reply must start with
    int32_t expectedLength;
    uint8_t reply[8];          // the first bytes that came instead
    int32_t replyLength;       // how many bytes came
    int32_t waitMs;            // the receive's longest wait
    int32_t linkError;         // the system's error number of a failed send or receive; 0 none
    int32_t linkClosed;        // 1: the peer closed the connection or the line hung up
    int32_t cancelled;         // 1: a cancel ended the write between records
    int32_t xportReplyLength;  // the XPort's last reply: its bytes; -1 when the channel failed
    int32_t xportSwitched;     // 1 once the XPort acknowledged the switch's put
};

// What the layers keep of one run, so that two runs, each with its own
// record and its own window, can share a process.
struct RunState {
    XportRecords xport;
    int32_t waitsCutByCancel;   // 1 while a cancel cuts the receive waits short (worker thread)
    int32_t finalLineHandled;   // 1 once the window handled the final line (window thread)
    EventHandle commandDone;    // the command channel's done event (Win32); null when none
    ThreadHandle workerThread;  // the run's worker; null when none
    RunFacts facts;             // what the exchanges met (cleared as a run starts)
};

struct UpdateContext {
    int32_t method;            // LinkMethod
    int32_t linkOpen;          // 1 while the device link is open
    PortHandle comHandle;      // the open COM port
    int32_t comPort;           // COM port number
    char comDevice[kPathSize]; // POSIX: the serial device path; empty on Windows
    SocketLibraryData wsaData;
    SocketHandle tcpSocket;    // stream socket to the XPort data port
    SocketHandle udpSocket;    // datagram socket to the XPort configuration port
    sockaddr_in tcpPeer;
    sockaddr_in udpLocal;
    sockaddr_in udpPeer;
    char ipText[kIpTextSize];  // dotted address as typed; empty when none
    int32_t tcpPort;           // XPort data port; 0 when none
    int32_t txLength;
    int32_t rxLength;
    uint8_t txBuffer[kBufferSize];
    uint8_t rxBuffer[kBufferSize];
    int32_t imageSize;
    uint8_t* imageData;        // the whole image file, owned; null when none
    uint8_t deviceVersion[3];  // tag, minor, major
    uint8_t imageMinor;
    uint8_t imageMajor;
    int32_t statusCode;        // StatusCode
    int32_t errorCode;         // ErrorCode
    int32_t succeeded;         // 1 once written and verified in this run (a repair run: put back)
    char imagePath[kPathSize]; // full path of the image file
    char imageChoice[kPathSize]; // a file chosen instead of the one beside the program; empty for that one
    int32_t eraseSent;         // 1 once this run asked the device to erase (enter update mode)
    int32_t xportChanged;      // 1 while the XPort may hold the switched setup: from the switch's
                               // put until a restore read back the right byte
    int32_t xportRepair;       // 1: the run only puts back the kept XPort setup (set by a front end)
    int32_t onlyIfNewer;       // 1: a device already at the image's version or newer is left alone
                               // without a question (set by a front end)
    int32_t leftAlone;         // 1 when this run left the device alone for onlyIfNewer
    int32_t checkOnly;         // 1: the run identifies the device and declines without asking (set by a front end)
    RunState run;              // the run's own state in the layers below
    const RunHooks* hooks;     // null: none
};

inline constexpr int kDeviceVersionTag = 0;
inline constexpr int kDeviceVersionMinor = 1;
inline constexpr int kDeviceVersionMajor = 2;

// The program's one record, in static storage for the whole run of the program.
extern UpdateContext updateContext;

// Puts a record into the state the window sets up at initialisation:
// no link, no sockets, no image, COM1, the default TCP port, no hooks.
void initUpdateContext(UpdateContext* ctx);
