// Where the message being read stands. MessageBegin sets it and the handlers read and advance
// it: kept apart from the dispatcher, so that the handlers depend on the message alone.
#include "capture/messages.h"

int32_t mPlayerIndex = -1;
int32_t mState = 0;
