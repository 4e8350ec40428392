#include "link/Driver.h"

#include "link/Device.h"
#include "link/Provider.h"

#include <cstring>

LinkHandle DeviceHandle = nullptr;
uint32_t LastStatus = 0;
std::string LastReason;

namespace {
std::unique_ptr<LinkProvider>& Provider() {
    static std::unique_ptr<LinkProvider> provider;
    return provider;
}
}  // namespace

void SetLinkProvider(std::unique_ptr<LinkProvider> provider) { Provider() = std::move(provider); }
LinkProvider* CurrentLinkProvider() { return Provider().get(); }

uint32_t ListSerialNumber(uint32_t index, char* buffer, uint32_t flags) {
    LastReason.clear();
    if (!buffer || flags != LIST_BY_INDEX_SERIAL) return LINK_INVALID_PARAMETER;
    LinkProvider* p = CurrentLinkProvider();
    if (!p) return LINK_DEVICE_NOT_FOUND;
    std::vector<LinkProvider::Entry> all = p->List();
    if (index >= all.size()) {
        if (all.empty()) LastReason = p->Reason();
        return LINK_DEVICE_NOT_FOUND;
    }
    const std::string& s = all[index].serial;
    size_t n = s.size() < SERIAL_NUMBER_SIZE - 1 ? s.size() : SERIAL_NUMBER_SIZE - 1;
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
    return LINK_OK;
}

uint32_t OpenBySerialNumber(const char* serial, uint32_t flags, LinkHandle* handle) {
    LastReason.clear();
    if (!serial || !handle || flags != OPEN_BY_SERIAL_NUMBER) return LINK_INVALID_PARAMETER;
    LinkProvider* p = CurrentLinkProvider();
    if (!p) return LINK_DEVICE_NOT_FOUND;
    LinkDevice* device = nullptr;
    uint32_t status = p->Open(serial, &device);
    if (status == LINK_OK)
        *handle = device;
    else
        LastReason = p->Reason();
    return status;
}

uint32_t SetBaudRate(LinkHandle h, uint32_t rate) { return h ? h->SetBaudRate(rate) : LINK_INVALID_HANDLE; }
uint32_t SetDataCharacteristics(LinkHandle h, uint8_t bits, uint8_t stop, uint8_t parity) {
    return h ? h->SetDataCharacteristics(bits, stop, parity) : LINK_INVALID_HANDLE;
}
uint32_t SetTimeouts(LinkHandle h, uint32_t readMs, uint32_t writeMs) {
    return h ? h->SetTimeouts(readMs, writeMs) : LINK_INVALID_HANDLE;
}
uint32_t SetUsbParameters(LinkHandle h, uint32_t inSize, uint32_t outSize) {
    return h ? h->SetUsbParameters(inSize, outSize) : LINK_INVALID_HANDLE;
}
uint32_t PurgeBuffers(LinkHandle h, uint32_t mask) { return h ? h->PurgeBuffers(mask) : LINK_INVALID_HANDLE; }
uint32_t WriteBytes(LinkHandle h, const void* buffer, uint32_t count, uint32_t* written) {
    if (written) *written = 0;
    if (!h) return LINK_INVALID_HANDLE;
    uint32_t dummy = 0;
    return h->WriteBytes(static_cast<const uint8_t*>(buffer), count, written ? written : &dummy);
}
uint32_t GetStatus(LinkHandle h, uint32_t* rxCount, uint32_t* txCount, uint32_t* events) {
    uint32_t rx = 0, tx = 0, ev = 0;
    uint32_t status = h ? h->GetStatus(&rx, &tx, &ev) : LINK_INVALID_HANDLE;
    if (status != LINK_OK) rx = tx = ev = 0;
    if (rxCount) *rxCount = rx;
    if (txCount) *txCount = tx;
    if (events) *events = ev;
    return status;
}
uint32_t ReadBytes(LinkHandle h, void* buffer, uint32_t count, uint32_t* read) {
    if (read) *read = 0;
    if (!h) return LINK_INVALID_HANDLE;
    uint32_t dummy = 0;
    return h->ReadBytes(static_cast<uint8_t*>(buffer), count, read ? read : &dummy);
}
uint32_t SetDtr(LinkHandle h) { return h ? h->SetDtr() : LINK_INVALID_HANDLE; }
uint32_t ClearDtr(LinkHandle h) { return h ? h->ClearDtr() : LINK_INVALID_HANDLE; }
uint32_t SetRts(LinkHandle h) { return h ? h->SetRts() : LINK_INVALID_HANDLE; }
uint32_t ClearRts(LinkHandle h) { return h ? h->ClearRts() : LINK_INVALID_HANDLE; }

int LinkEventFd(LinkHandle h) { return h ? h->EventFd() : -1; }
void LinkService(LinkHandle h) {
    if (h) h->Service();
}
int64_t LinkNextDue(LinkHandle h) { return h ? h->NextDue() : -1; }
