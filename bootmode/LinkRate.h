// The host's bit rate, kept in one place.
//
// Contract
// - SetLinkRate sets the converter's bit rate and records it in
//   form.LinkRate. Every change of the host's rate goes through it, so
//   LinkRate always tells the rate the link is at and a caller compares
//   instead of guessing. The rate is recorded whatever the driver returns (a
//   failed call is not repeated by the next comparison); the status is
//   returned and LastStatus is left alone.
#pragma once

#include <cstdint>

class FormCore;

uint32_t SetLinkRate(FormCore& form, uint32_t rate);
