// The transfer phase of a write: file choice, S-record reading into the flash
// image, block programming and the end command.
#pragma once

class FormCore;

void TransferImage(FormCore& form);
