// Picture geometry and format enumerations used by the capture modules
// (sensor interface, ISP, scaler): the system module's own.
#pragma once
#include "mi_sys_datatype.h"
