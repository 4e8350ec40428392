// The driver layer: the fourteen operations every part of the writer uses to
// reach the USB serial converter, plus the two globals that go with them.
//
// Contract
// - Every operation returns a status: LINK_OK (0) for success, anything else
//   for failure. Callers never tell non-zero codes apart.
// - All operations but ListSerialNumber and OpenBySerialNumber take the device
//   handle first. Called with a handle that was never opened (nullptr), every
//   operation returns non-zero, reports an empty queue and does nothing.
// - ReadBytes asked for at most what GetStatus just reported returns at once
//   with those bytes, oldest first, taken off the receive queue. It never
//   blocks; asked for more than is waiting it delivers what is there.
// - WriteBytes puts the bytes on the wire in order at once.
// - The backend behind a handle is chosen by the provider installed with
//   SetLinkProvider (link/Provider.h): the tty backend for real converters or
//   the simulated board. Each backend translates its OS errors once; callers
//   see only the status, and for the listing and the open the reason text
//   kept in LastReason.
#pragma once

#include <cstdint>
#include <string>

struct LinkDevice;  // one opened converter (link/Device.h)
using LinkHandle = LinkDevice*;

enum LinkStatus : uint32_t {
    LINK_OK = 0,
    LINK_INVALID_HANDLE = 1,
    LINK_DEVICE_NOT_FOUND = 2,
    LINK_DEVICE_NOT_OPENED = 3,
    LINK_IO_ERROR = 4,
    LINK_INVALID_PARAMETER = 6,
    LINK_NOT_SUPPORTED = 17,
};

// Flags of the listing and the open, as the callers pass them.
constexpr uint32_t LIST_BY_INDEX_SERIAL = 0x40000001u;
constexpr uint32_t OPEN_BY_SERIAL_NUMBER = 1u;
constexpr uint32_t PURGE_RX = 1u;
constexpr uint32_t PURGE_TX = 2u;
constexpr uint32_t PURGE_BOTH = PURGE_RX | PURGE_TX;

// Data characteristics.
constexpr uint8_t BITS_8 = 8;
constexpr uint8_t STOP_BITS_1 = 0;
constexpr uint8_t PARITY_NONE = 0;

// Size of the buffer ListSerialNumber fills (zero-terminated text).
constexpr int SERIAL_NUMBER_SIZE = 64;

// The handle of the opened converter: nullptr until OpenBySerialNumber fills
// it, never closed while the program runs.
extern LinkHandle DeviceHandle;
// The status of the last tested driver call (0 means success).
extern uint32_t LastStatus;
// Why the last ListSerialNumber or OpenBySerialNumber failed, for the
// operator: one line such as "/dev/ttyUSB7: No such file or directory" from
// the backend (LinkProvider::Reason); empty after a success, and when the
// backend has nothing to say.
extern std::string LastReason;

uint32_t ListSerialNumber(uint32_t index, char* buffer, uint32_t flags);
uint32_t OpenBySerialNumber(const char* serial, uint32_t flags, LinkHandle* handle);
uint32_t SetBaudRate(LinkHandle h, uint32_t rate);
uint32_t SetDataCharacteristics(LinkHandle h, uint8_t bits, uint8_t stop, uint8_t parity);
uint32_t SetTimeouts(LinkHandle h, uint32_t readMs, uint32_t writeMs);
uint32_t SetUsbParameters(LinkHandle h, uint32_t inSize, uint32_t outSize);
uint32_t PurgeBuffers(LinkHandle h, uint32_t mask);
uint32_t WriteBytes(LinkHandle h, const void* buffer, uint32_t count, uint32_t* written);
uint32_t GetStatus(LinkHandle h, uint32_t* rxCount, uint32_t* txCount, uint32_t* events);
uint32_t ReadBytes(LinkHandle h, void* buffer, uint32_t count, uint32_t* read);
uint32_t SetDtr(LinkHandle h);
uint32_t ClearDtr(LinkHandle h);
uint32_t SetRts(LinkHandle h);
uint32_t ClearRts(LinkHandle h);

// Event-loop support, beyond the fourteen operations.
// LinkEventFd: a descriptor that becomes readable when the device has
// something new (bytes arrived, or for the simulated board an event fell due);
// -1 when there is none (never-opened handle, virtual-time simulation).
int LinkEventFd(LinkHandle h);
// LinkService: called when LinkEventFd was readable; the backend takes what
// woke it (bytes into its receive queue, the timer's expiry) so that a
// level-triggered wait does not wake again for the same thing.
void LinkService(LinkHandle h);
// LinkNextDue: for devices on virtual time, the virtual microsecond at which
// the device's state next changes by itself (a byte arrives, an erase ends);
// -1 when nothing is pending or the device runs on real time.
int64_t LinkNextDue(LinkHandle h);
