#include "net/faults.h"

#if defined(KOVITV_FAULT_INJECTION)
NetFaults g_net_faults;
#endif
