// The layer that knows every subsystem and puts them together for the front
// ends (the window, the command line, the tests): the 100 ms tick and the
// write with the file chosen by the user.
//
// Contract
// - Timer1Timer is called by the host every 100 ms: first the monitor's
//   receive pump (it stays off the link while LinkBusy is set), then the
//   WaitTicks countdown, whether LinkBusy is set or not. It never runs the
//   message pump and never blocks.
// - Button1Click is FWRITE: the write command (bootmode/WriteCommand.h) with
//   the transfer that reads the file ChooseImageFile names
//   (image/TransferImage.h).
#pragma once

#include "core/WriteOutcome.h"

class FormCore;

void Timer1Timer(FormCore& form);

WriteOutcome Button1Click(FormCore& form);
