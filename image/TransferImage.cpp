#include "image/TransferImage.h"

#include "app/FormCore.h"

// Filled in with the image transfer.
void TransferImage(FormCore&) {}
