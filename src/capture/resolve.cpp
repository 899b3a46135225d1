#include "capture/capture.h"

// Placeholder until message interception exists; replaced by the capture module.
void resolveUserMessages() {}
