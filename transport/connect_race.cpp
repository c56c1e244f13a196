#include "transport/connect_race.h"

#include <algorithm>

#include "platform/extensions.h"
#include "transport/deadline.h"
#include "transport/endpoint.h"

namespace {

// The addresses in the order the attempts take them: alternately one of
// the first address's family and one of any other, each kind in the
// resolver's order; once one kind runs out, the rest of the other.
struct AddressOrder {
    int family;             // the first address's
    const addrinfo* same;   // the next address of that family
    const addrinfo* other;  // the next address of any other
    bool sameNext;          // whose turn it is
};

const addrinfo* NextOfKind(const addrinfo* address, int family, bool same)
{
    while (address != nullptr && (address->ai_family == family) != same)
        address = address->ai_next;
    return address;
}

AddressOrder OrderOf(const addrinfo* list)
{
    const int family = list != nullptr ? list->ai_family : AF_UNSPEC;
    return {family, list, NextOfKind(list, family, false), true};
}

bool AddressesLeft(const AddressOrder& order)
{
    return order.same != nullptr || order.other != nullptr;
}

const addrinfo* NextAddress(AddressOrder& order)
{
    const bool same = order.sameNext ? order.same != nullptr : order.other == nullptr;
    const addrinfo*& cursor = same ? order.same : order.other;
    const addrinfo* next = cursor;
    cursor = NextOfKind(next->ai_next, order.family, same);
    order.sameNext = !same;
    return next;
}

// The attempts under way, and what came of them.
struct Race {
    AddressOrder order;
    SOCKET pending[SOCKETS_WAITED_AT_MOST];
    int pendingCount;
    ULONGLONG nextStart;  // when the next attempt is due, on GetTickCount64's clock
    SOCKET winner;
    BOOL created;
};

// The next attempt is due: its delay is over, or nothing else is under way.
bool NextIsDue(const Race& race)
{
    return AddressesLeft(race.order) && race.pendingCount < SOCKETS_WAITED_AT_MOST &&
           (race.pendingCount == 0 || GetTickCount64() >= race.nextStart);
}

// How long to wait for the attempts under way: until the next is due, at
// most the left milliseconds.
DWORD UntilNextStart(const Race& race, DWORD left)
{
    if (!AddressesLeft(race.order) || race.pendingCount == SOCKETS_WAITED_AT_MOST)
        return left;
    const ULONGLONG now = GetTickCount64();
    return now >= race.nextStart ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(race.nextStart - now, left));
}

// Starts an attempt on address, which goes on without waiting. One that
// fails at once (refused, unreachable, no socket) lets the next start now.
void StartAttempt(Race& race, const addrinfo* address)
{
    race.nextStart = GetTickCount64();
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (s == INVALID_SOCKET)
        return;
    race.created = TRUE;
    AllowMappedAddresses(s, address->ai_family);
    // A socket that needs no connection has what it needs.
    if (address->ai_socktype != SOCK_STREAM) {
        race.winner = s;
        return;
    }
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
        if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
            race.winner = s;
            return;
        }
        if (WSAGetLastError() == WSAEWOULDBLOCK) {
            race.pending[race.pendingCount++] = s;
            race.nextStart += CONNECT_ATTEMPT_DELAY_MS;
            return;
        }
    }
    closesocket(s);
}

// Whether the attempt on s connected, as the wait found it: a failure
// that SO_ERROR does not confirm is none (a reset that came once it had
// connected, say, is for the exchange to find).
bool Connected(SOCKET s, int found)
{
    if (found == SOCKET_READY)
        return true;
    int error = 0;
    int size = sizeof error;
    return getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && error == 0;
}

// Waits up to milliseconds for the attempts under way. The first of those
// over that connected wins; those that failed are closed, and the next
// attempt is due at once. False when the wait itself failed.
bool AwaitAttempts(Race& race, DWORD milliseconds)
{
    int found[SOCKETS_WAITED_AT_MOST] = {};
    if (WaitForSockets(race.pending, race.pendingCount, WAIT_CONNECT, milliseconds, found) == SOCKET_ERROR)
        return false;
    int kept = 0;
    for (int i = 0; i < race.pendingCount; ++i) {
        const SOCKET s = race.pending[i];
        if (found[i] == SOCKET_WAITING) {
            race.pending[kept++] = s;
        } else if (race.winner == INVALID_SOCKET && Connected(s, found[i])) {
            race.winner = s;
        } else {
            closesocket(s);
            race.nextStart = GetTickCount64();
        }
    }
    race.pendingCount = kept;
    return true;
}

// The winner as the program uses it, blocking; none when it cannot be.
SOCKET Blocking(SOCKET s)
{
    u_long nonBlocking = 0;
    if (s == INVALID_SOCKET || ioctlsocket(s, FIONBIO, &nonBlocking) == 0)
        return s;
    closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

SOCKET ConnectFirstAnswering(const addrinfo* list, ULONGLONG deadline, BOOL* created)
{
    Race race = {OrderOf(list), {}, 0, 0, INVALID_SOCKET, FALSE};
    while (race.winner == INVALID_SOCKET) {
        const DWORD left = TimeLeft(deadline);
        if (left == 0)
            break;
        if (NextIsDue(race))
            StartAttempt(race, NextAddress(race.order));
        else if (race.pendingCount == 0 || !AwaitAttempts(race, UntilNextStart(race, left)))
            break;
    }
    // The losers: nothing was sent on them.
    for (int i = 0; i < race.pendingCount; ++i)
        closesocket(race.pending[i]);
    *created = race.created;
    return Blocking(race.winner);
}
