// Raw loopback peers for the echo tests: the other end of a connection,
// written on the system's own socket calls so that it shares nothing with
// the program's socket layer. Descriptors are plain ints, and every call
// that may wait takes a limit in milliseconds, so a peer never hangs a test.
// This header pulls in no socket headers: files that include winsock2.h
// can use it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace raw {

// Address families, as loopback addresses: 127.0.0.1 and ::1.
enum class Family { V4, V6 };

// A listening socket on the family's loopback address; port 0 lets the
// system choose. With a backlog of 0, one connection waiting to be
// accepted fills its queue. The descriptor, or -1.
int Listen(Family family, int port = 0, int backlog = 4096);
// A listener that asks to share its address and port (SO_REUSEADDR), as a
// program might that wants another's connections; the descriptor, or -1.
int ListenSharing(Family family, int port);
// A socket bound to a loopback port but not listening: nothing answers there.
int BindOnly(Family family);
// The local port of a bound socket, or -1.
int LocalPort(int fd);
// Waits for a connection on any of the listeners; the new descriptor, or -1.
int Accept(const std::vector<int>& listeners, int limitMs);
inline int Accept(int listener, int limitMs) { return Accept(std::vector<int>{listener}, limitMs); }
// A connection to the family's loopback address; the descriptor, or -1.
// Small writes go out at once (no coalescing), so pieces stay pieces.
int Connect(Family family, int port, int limitMs);

// Writes all of bytes; false when the connection fails or stays full past limitMs.
bool Send(int fd, const std::string& bytes, int limitMs = 5000);
// Reads until count bytes came, the stream ended or failed, or limitMs
// passed; returns what came.
std::string Receive(int fd, std::size_t count, int limitMs);

// How a connection's incoming side ended, as seen after the bytes already read.
enum class End {
    Closed,  // the peer closed in order
    Reset,   // the peer reset the connection
    Data,    // more bytes came instead
    Open,    // nothing within the limit
    Failed,  // any other error
};
End WaitForEnd(int fd, int limitMs);

// Sends the end of stream, keeping the descriptor.
void ShutdownSend(int fd);
// Closes with a reset instead of an orderly close.
void Reset(int fd);
void Close(int fd);

// Open descriptors of this process (on Windows, its open handles).
int OpenDescriptors();

// Owns a descriptor and closes it when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(std::exchange(fd_, -1)); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other)
            Close(std::exchange(fd_, std::exchange(other.fd_, -1)));
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives up ownership, e.g. to reset or close it by hand.
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

// A listener whose queue is full: with a backlog of 0, the one waiting
// connection fills it, and the system drops every further handshake, as
// for a host that a firewall hides; a connect to it waits for good.
struct FullListener {
    Fd listener;
    Fd queued;
    int port = -1;  // -1 when it could not be made
};
// On the family's loopback address at port; 0 lets the system choose.
FullListener ListenFull(Family family, int port = 0);

}  // namespace raw
