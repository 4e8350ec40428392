#include "bootmode/LinkRate.h"

#include "core/FormCore.h"
#include "link/Driver.h"

uint32_t SetLinkRate(FormCore& form, uint32_t rate) {
    form.LinkRate = rate;
    return SetBaudRate(DeviceHandle, rate);
}
