// The sources of a live session that deliver a byte stream: standard input
// ("-"), a file that grows ("follow:PATH"), a TCP connection
// ("tcp:HOST:PORT", as client, reconnecting), a TCP listener
// ("listen:ADDRESS:PORT", one device per connection) and a serial port
// ("serial:/dev/tty...", POSIX termios, reopened when it comes back). They
// are all served by one thread that polls them, decodes their payloads and
// hands the samples to the engine.
#ifndef LIVE_LIVE_SOURCES_H
#define LIVE_LIVE_SOURCES_H

#include <string>
#include <vector>

#include "live_engine.h"
#include "live_payload.h"

enum class LiveSourceKind {
    Stdin,   // "-"
    Follow,  // "follow:PATH"
    Tcp,     // "tcp:HOST:PORT"
    Listen,  // "listen:ADDRESS:PORT"
    Serial,  // "serial:PATH"
};

struct LiveSourceTarget {
    LiveSourceKind kind;
    std::string text;  // as given
    std::string path;  // follow, serial
    std::string host;  // tcp, listen
    std::string port;  // tcp, listen
};

// A serial port's line settings.
struct LiveSerialSettings {
    int baud = 115200;
    int dataBits = 8;   // 5..8
    char parity = 'N';  // 'N', 'E' or 'O'
    int stopBits = 1;   // 1 or 2
};

// Parses a SOURCE argument. False with the reason in *reason (a source of
// another kind, "mqtt://...", is not this module's: false as well).
bool LiveSourceParse(const std::string& text, LiveSourceTarget* target, std::string* reason);

// Parses a framing such as "8N1" or "7E2" into settings. False for any
// other text.
bool LiveSerialFraming(const std::string& text, LiveSerialSettings* settings);

// True when baud is a rate the serial ports of this system take.
bool LiveSerialBaudKnown(int baud);

struct LiveSourceOptions {
    LiveFormat format = LiveFormat::Csv;
    LiveSerialSettings serial;
    bool untilStopped = false;  // run until stopFd even when no source is left (other sources run beside)
};

// Serves the sources until every one that can end has ended (standard
// input at its end; the others never end by themselves) or stopFd becomes
// readable. Tells what happens through notices ("listening on
// 127.0.0.1:PORT", connections, reconnects). Returns 0 when the sources
// ended, 1 when stopFd stopped them, 2 when a source could not be set up
// (*reason says which: a file to follow that is no regular file, an
// address that does not resolve or cannot be listened on); every device is
// handed its end before the return (why: "end of stream" or "stopped").
int LiveSourcesRun(const std::vector<LiveSourceTarget>& targets, const LiveSourceOptions& options, LiveEngine* engine,
                   int stopFd, const LiveNoticeSink& notices, std::string* reason);

#endif
